#include "codec/codepage.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

namespace sharelink {
namespace {

using namespace std::string_literals;

TEST(Utf8ToLocal, ConvertsCharactersTheCodePageHas) {
  EXPECT_EQ(utf8_to_local("\xE4\xB8\xAD"), "\xD6\xD0");                   // 中
  EXPECT_EQ(utf8_to_local("abc 123 ~"), "abc 123 ~");
  EXPECT_EQ(utf8_to_local(""), "");
  EXPECT_EQ(utf8_to_local("x\xE4\xB8\xAD\xE6\x96\x87"), "x\xD6\xD0\xCE\xC4");  // ends in a 3-byte character
  EXPECT_EQ(utf8_to_local("\xE2\x82\xAC"), "\x80");                       // euro sign
  EXPECT_EQ(utf8_to_local("\xC2\xB7\xE2\x80\x94"), "\xA1\xA4\xA1\xAA");   // middle dot, em dash
  EXPECT_EQ(utf8_to_local("\xC3\xA9"), "\xA8\xA6");                       // é
  EXPECT_EQ(utf8_to_local("\xEF\xBC\x91"), "\xA3\xB1");                   // full-width 1
}

TEST(Utf8ToLocal, EndsAtU0000) {
  EXPECT_EQ(utf8_to_local("a\0b"s), "a");
  EXPECT_EQ(utf8_to_local("\0abc"s), "");
  // An overlong zero is not U+0000 but two invalid bytes.
  EXPECT_EQ(utf8_to_local("a\xC0\x80" "b"), "a??b");
}

TEST(LocalToUtf8, ConvertsCodePageCharacters) {
  EXPECT_EQ(local_to_utf8("\xD6\xD0\xCE\xC4" ".txt"), "\xE4\xB8\xAD\xE6\x96\x87.txt");
  EXPECT_EQ(local_to_utf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(local_to_utf8("\x81\x40"), "\xE4\xB8\x82");  // 丂, a GBK extension character
  EXPECT_EQ(local_to_utf8("ab\0\xD6\xD0"s), "ab");
  EXPECT_EQ(local_to_utf8(""), "");
}

TEST(CodePage, EveryCharacterRoundTrips) {
  int characters = 0;
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string local{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string utf8 = local_to_utf8(local);
      if (utf8 == "\xEF\xBF\xBD") continue;
      ++characters;
      EXPECT_EQ(utf8_to_local(utf8), local) << std::hex << lead << ' ' << trail;
    }
  }
  EXPECT_GT(characters, 21000);
}

TEST(CodePage, ConversionIsSafeFromManyThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::vector<std::string> results(4);
  for (size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&results, i] { results[i] = utf8_to_local("\xE4\xB8\xAD\xE6\x96\x87"); });
  }
  for (auto& t : threads) t.join();
  for (const auto& r : results) EXPECT_EQ(r, "\xD6\xD0\xCE\xC4");
}

TEST(CodePage, LargeAndArbitraryInput) {
  std::string big;
  for (int i = 0; i < 200000; ++i) big += "\xE4\xB8\xAD" "ab";
  const local_text local = utf8_to_local(big);
  ASSERT_EQ(local.size(), 200000u * 4);
  EXPECT_EQ(local.substr(local.size() - 4), "\xD6\xD0" "ab");
  EXPECT_EQ(local_to_utf8(local), big);

  std::mt19937 rng(5);
  for (int i = 0; i < 5000; ++i) {
    std::string s(rng() % 16, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    const local_text l = utf8_to_local(s);
    EXPECT_LE(l.size(), s.size());
    EXPECT_EQ(l.find('\0'), std::string::npos);
    EXPECT_EQ(local_to_utf8(s).find('\0'), std::string::npos);
  }
}

}  // namespace
}  // namespace sharelink
