#include "codec/hex_escape.h"

#include <gtest/gtest.h>

namespace sharelink {
namespace {

TEST(HexEscape, DigitValues) {
  EXPECT_EQ(hex_value('0'), 0);
  EXPECT_EQ(hex_value('9'), 9);
  EXPECT_EQ(hex_value('a'), 10);
  EXPECT_EQ(hex_value('F'), 15);
  for (char c : {'g', 'G', '/', ':', '@', '`', ' ', '\0', '\xC0'}) EXPECT_EQ(hex_value(c), -1) << c;
}

TEST(HexEscape, EscapesAndUnescapesBytes) {
  const auto not_alphanumeric = [](unsigned char c) {
    return !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
  };
  const std::string bytes("a b/\xF0\x9F\x98\x80\x00z", 10);
  const std::string escaped = percent_escape(bytes, not_alphanumeric);
  EXPECT_EQ(escaped, "a%20b%2F%F0%9F%98%80%00z");
  EXPECT_EQ(percent_unescape(escaped), bytes);
  // Malformed escapes stay as they are; case of the digits does not matter.
  EXPECT_EQ(percent_unescape("%zz%4%%41%4a%"), "%zz%4%AJ%");
}

}  // namespace
}  // namespace sharelink
