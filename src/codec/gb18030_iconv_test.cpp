// The GB18030 reader against the running system's iconv, code by code.
#include <iconv.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "codec/gb18030.h"
#include "codec/gb18030_tables.h"

namespace sharelink {
namespace {

/// `code` read by iconv into UTF-8, or nothing when it refuses it.
std::optional<std::string> iconv_read(iconv_t cd, const std::string& code) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(code.data());
  char out[16];
  char* out_ptr = out;
  std::size_t in_left = code.size(), out_left = sizeof out;
  if (iconv(cd, &in, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1) || in_left != 0) {
    return std::nullopt;
  }
  return std::string(out, sizeof out - out_left);
}

TEST(Gb18030, ReadsEveryCodeAsIconvDoes) {
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  int characters = 0;
  for (unsigned b = 0x80; b <= 0xFF; ++b) {
    const std::string code(1, static_cast<char>(b));
    EXPECT_EQ(gb18030_to_utf8(code), iconv_read(cd, code)) << std::hex << b;
  }
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
      const auto mine = gb18030_to_utf8(code);
      ASSERT_EQ(mine, iconv_read(cd, code)) << std::hex << lead << ' ' << trail;
      characters += mine.has_value();
    }
  }
  // Every four-byte code up to a little past the last one that is a character.
  for (std::uint32_t n = 0; n < 1237576 + 12600; ++n) {
    const std::string code{static_cast<char>(0x81 + n / 12600), static_cast<char>(0x30 + n / 1260 % 10),
                           static_cast<char>(0x81 + n / 10 % 126), static_cast<char>(0x30 + n % 10)};
    const auto mine = gb18030_to_utf8(code);
    ASSERT_EQ(mine, iconv_read(cd, code)) << n;
    characters += mine.has_value();
  }
  iconv_close(cd);
  EXPECT_GT(characters, 1100000);
}

}  // namespace
}  // namespace sharelink
