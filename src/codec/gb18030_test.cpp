#include "codec/gb18030.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

#include "runtime/text.h"

namespace sharelink {
namespace {

using namespace std::string_literals;

TEST(Gb18030, ReadsEveryKindOfCode) {
  const struct {
    std::string gb, utf8;
  } cases[] = {
      {"", ""},
      {"abc.rar", "abc.rar"},
      {"\xD6\xD0\xCE\xC4.rar", "中文.rar"},                  // GB2312
      {"\x81\x40", "丂"},                                   // a GBK extension
      {"\xA3\xB1", "１"},
      {"\xA1\xA1", "\u3000"},
      {"\xA8\xA6", "é"},
      {"\x81\x30\x81\x30", "\u0080"},                       // the first four-byte code
      {"\x81\x30\x84\x36", "\u00A5"},                       // yen sign, four bytes
      {"\x84\x31\xA4\x39", "\uFFFF"},                       // the last in the Basic plane
      {"\x90\x30\x81\x30", "\U00010000"},                   // beyond it, counted on
      {"\x94\x39\xFC\x36", "😀"},
      {"\xE3\x32\x9A\x35", "\U0010FFFF"},
      {"a\0b"s, "a\0b"s},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> read = gb18030_to_utf8(c.gb);
    ASSERT_TRUE(read) << c.utf8;
    EXPECT_EQ(*read, c.utf8);
  }
}

TEST(Gb18030, RefusesWhatIsNoCharacter) {
  for (const std::string bad : {"\x80", "\xFF", "a\xD6", "\xD6\x7F", "\xD6\xFF", "\xD6\x30",
                                "\x81\x30\x81", "\x81\x30\x81\x3A", "\x81\x30\x30\x30",
                                "\xE3\x32\x9A\x36", "\xFE\x39\xFE\x39"}) {
    EXPECT_FALSE(gb18030_to_utf8(bad)) << bad;
  }
}

TEST(Gb18030, ReplacingReadsAWholePage) {
  EXPECT_EQ(gb18030_to_utf8_replacing("\xD6\xD0\x80" "a\xD6\x30" "b\x81\x30\x84\x36\xFE"),
            "中\uFFFDa\uFFFD0b¥\uFFFD");
  EXPECT_EQ(gb18030_to_utf8_replacing(""), "");
}

// ASCII is copied a run at a time, eight bytes at once where it can: text made of
// ASCII runs of every length around eight and whole characters reads as its
// pieces read one by one.
TEST(Gb18030, AsciiRunsReadAsTheirPieces) {
  const std::pair<std::string, std::string> pieces[] = {
      {"\xD6\xD0", "中"}, {"\x81\x30\x84\x36", "¥"}, {"\xA3\xB1", "１"}, {"a", "a"}, {"0123456", "0123456"},
      {"<div class=\"x\">", "<div class=\"x\">"}};
  std::mt19937 rng(3);
  for (int i = 0; i < 5000; ++i) {
    std::string in, want;
    for (int n = static_cast<int>(rng() % 10); n > 0; --n) {
      const auto& [gb, utf8] = pieces[rng() % std::size(pieces)];
      in += gb;
      want += utf8;
    }
    EXPECT_EQ(gb18030_to_utf8_replacing(in), want);
    EXPECT_EQ(gb18030_to_utf8(in), want);
  }
}

// The number reader folds the full-width forms of ASCII where the Chinese code
// page keeps them, A3 A1 to A3 FE, and the ideographic space A1 A1.
TEST(Gb18030, NumberReaderFoldsTheChineseCodePagesFullWidthForms) {
  for (unsigned trail = 0xA1; trail <= 0xFE; ++trail) {
    const std::optional<std::string> wide = gb18030_to_utf8(std::string{'\xA3', static_cast<char>(trail)});
    ASSERT_TRUE(wide);
    const std::string ascii(1, static_cast<char>(trail - 0x80));
    EXPECT_EQ(to_number("1" + *wide + "5"), to_number("1" + ascii + "5")) << ascii;
    EXPECT_EQ(to_number(*wide + "5"), to_number(ascii + "5")) << ascii;
  }
  EXPECT_EQ(to_number(*gb18030_to_utf8("\xA1\xA1" "7")), 7);
}

}  // namespace
}  // namespace sharelink
