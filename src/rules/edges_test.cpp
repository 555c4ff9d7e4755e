// Nothing is lost where pages meet the engine: long values come through whole,
// every character of a name comes through, and a resolution
// that finds nothing still gives every field.
#include <gtest/gtest.h>

#include <string>

#include "codec/percent.h"
#include "resolve/named_services.h"
#include "testing/built_in_reading.h"

namespace sharelink {
namespace {

using testing::built_in_fields;

const resolved_file nothing_found{"", "", "", "0B", ""};

/// 1 MiB of address: every printable ASCII byte but the quote and backslash, and
/// Chinese characters, in a pattern that does not repeat within a line.
std::string mebibyte_address() {
  std::string address = "http://dl.example/f/";
  for (unsigned i = 0; address.size() < (1u << 20); ++i) {
    char c = static_cast<char>(0x21 + i % 94);
    if (c == '"' || c == '\\') c = '_';
    address += c;
    if (i % 7 == 0) address += "中";
  }
  address.resize(1u << 20);
  while (static_cast<unsigned char>(address.back()) >= 0x80) address.pop_back();
  address.resize(1u << 20, 'z');
  return address;
}

TEST(EngineEdges, MebibyteDownloadAddressComesThroughByteForByte) {
  const std::string address = mebibyte_address();
  ASSERT_EQ(address.size(), 1u << 20);

  resolved_file kuaichuan = built_in_fields("kuaichuan", 
      "<a file_url=\"" + address + "\" file_size=\"1\" file_name=\"a.rar\">");
  EXPECT_EQ(kuaichuan.download_url.size(), address.size());
  EXPECT_TRUE(kuaichuan.download_url == address);
  EXPECT_EQ(kuaichuan.file_name, "a.rar");

  resolved_file pan = built_in_fields("pan", "{\\\"dlink\\\":\\\"" + address + "\\\"}");
  EXPECT_EQ(pan.download_url.size(), address.size());
  EXPECT_TRUE(pan.download_url == address);
}

TEST(EngineEdges, MebibyteEscapedPanAddressUnescapesWhole) {
  const std::string address = mebibyte_address();
  std::string escaped;
  for (char c : address) escaped += c == '/' ? std::string("\\\\/") : std::string(1, c);
  resolved_file pan = built_in_fields("pan", "{\\\"dlink\\\":\\\"" + escaped + "\\\"}");
  EXPECT_EQ(pan.download_url.size(), address.size());
  EXPECT_TRUE(pan.download_url == address);
}

TEST(EngineEdges, EveryCharacterOfANameComesThrough) {
  // 中, Thai ko kai, Hangul ga, "a", an emoji (beyond the Basic plane), then ".txt".
  const std::string escaped = "%E4%B8%AD%E0%B8%81%EA%B0%80a%F0%9F%98%80.txt";
  const std::string expected = "中\xE0\xB8\x81\xEA\xB0\x80" "a😀.txt";
  EXPECT_EQ(percent_decode(escaped), expected);

  resolved_file kuaichuan = built_in_fields("kuaichuan", "<a file_name=\"" + escaped + "\">");
  EXPECT_EQ(kuaichuan.file_name, expected);
  EXPECT_TRUE(kuaichuan.file_type.ends_with("(txt)")) << kuaichuan.file_type;

  resolved_file pan = built_in_fields("pan", "\\\"filename=" + escaped + "\\\"");
  EXPECT_EQ(pan.file_name, expected);
  EXPECT_EQ(pan.file_type, kuaichuan.file_type);

  // A page written in GBK that escapes its name in GBK.
  EXPECT_EQ(built_in_fields("kuaichuan", "<a file_name=\"%D6%D0%CE%C4.rar\">").file_name, "中文.rar");
}

TEST(EngineEdges, ResolutionsThatFindNothingStillGiveEveryField) {
  for (std::string page : {std::string(), std::string("<html>404 Not Found</html>"),
                           std::string(4096, '\0'), std::string(4096, '\xFF')}) {
    EXPECT_EQ(built_in_fields("kuaichuan", page), nothing_found);
    EXPECT_EQ(built_in_fields("pan", page), nothing_found);
  }
  // Addresses that cannot be fetched: nothing is sent or nothing answers.
  for (std::string address : {std::string(), std::string("not an address"),
                              std::string("ftp://127.0.0.1/d/x"),
                              std::string("http://127.0.0.1:1/d/x")}) {
    SCOPED_TRACE(address);
    EXPECT_EQ(resolve_kuaichuan(address), nothing_found);
    EXPECT_EQ(resolve_pan(address), nothing_found);
  }
}

}  // namespace
}  // namespace sharelink
