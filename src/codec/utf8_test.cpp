#include "codec/utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace sharelink {
namespace {

using namespace std::string_literals;

const std::string kFffd = "\xEF\xBF\xBD";

TEST(Utf8ToLocal, KeepsEveryCharacter) {
  for (const std::string text : {"", "abc 123 ~", "中", "x中文", "😀한글é.txt", "\xF4\x8F\xBF\xBF",
                                 "\xEF\xBF\xBD", "\xEE\x80\x80", "\xED\x9F\xBF"}) {
    EXPECT_EQ(utf8_to_local(text), text);
  }
}

TEST(Utf8ToLocal, EndsAtTheFirstZeroByte) {
  EXPECT_EQ(utf8_to_local("a\0b"s), "a");
  EXPECT_EQ(utf8_to_local("\0abc"s), "");
}

TEST(Utf8ToLocal, ReplacesEachMaximalBrokenRunOnce) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"\x80", kFffd},
      {"\xBF\x80" "a", kFffd + kFffd + "a"},
      {"\xE4\xB8", kFffd},                          // cut short at the end
      {"\xE4\xB8" "a", kFffd + "a"},                // cut short before ASCII
      {"\xE4\xB8\xE4\xB8\xAD", kFffd + "中"},
      {"\xF0\x9F\x98", kFffd},
      {"a\xC0\x80" "b", "a" + kFffd + kFffd + "b"},  // an overlong zero is no U+0000
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},       // overlong
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},       // a lone surrogate
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // above U+10FFFF
      {"\xF5\xFE\xFF", kFffd + kFffd + kFffd},
      // The sample from the Unicode standard's discussion of U+FFFD substitution.
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + kFffd + kFffd + kFffd + "b" + kFffd + "c" + kFffd + kFffd + "d"},
      // GBK bytes are not UTF-8.
      {"\xD6\xD0\xCE\xC4", kFffd + kFffd + kFffd + kFffd},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_to_local(c.in), c.out) << c.in;
  }
}

TEST(Utf8ToLocal, ArbitraryBytesComeOutWellFormed) {
  std::mt19937 rng(5);
  for (int i = 0; i < 5000; ++i) {
    std::string s(rng() % 16, '\0');
    for (char& c : s) c = static_cast<char>(rng() % 3 == 0 ? 0x80 | rng() : rng());
    const local_text l = utf8_to_local(s);
    EXPECT_TRUE(is_utf8(l));
    EXPECT_EQ(l.find('\0'), std::string::npos);
    EXPECT_EQ(utf8_to_local(l), l);
  }
}

// is_utf8 skips ASCII eight bytes at a time: it must say what reading every
// character from the start says, wherever the broken byte falls.
TEST(IsUtf8, AgreesWithReadingEveryCharacter) {
  const auto plain = [](std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
      const utf8_char c = read_utf8(text, i);
      if (c.length == 0) return false;
      i += c.length;
    }
    return true;
  };
  std::mt19937 rng(7);
  const std::string pieces[] = {"a", "abcdefgh", "中", "😀", "\x80", "\xE4\xB8", "\xF4\x90\x80\x80", "\xED\xA0\x80"};
  for (int i = 0; i < 20000; ++i) {
    std::string s;
    for (int n = static_cast<int>(rng() % 12); n > 0; --n) s += pieces[rng() % std::size(pieces) % (rng() % 4 == 0 ? 8 : 4)];
    EXPECT_EQ(is_utf8(s), plain(s)) << s;
  }
}

}  // namespace
}  // namespace sharelink
