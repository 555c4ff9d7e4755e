#include "codec/percent.h"

#include <gtest/gtest.h>

#include <string>

namespace sharelink {
namespace {

using namespace std::string_literals;

TEST(PercentDecode, DecodesEscapes) {
  EXPECT_EQ(percent_decode("abc"), "abc");
  EXPECT_EQ(percent_decode(""), "");
  EXPECT_EQ(percent_decode("%41%42"), "AB");
  EXPECT_EQ(percent_decode("%4a"), "J");
  EXPECT_EQ(percent_decode("%4A"), "J");
  EXPECT_EQ(percent_decode("a+b"), "a+b");
  EXPECT_EQ(percent_decode("a%2Bb%20c"), "a+b c");
  EXPECT_EQ(percent_decode("100%25"), "100%");
  EXPECT_EQ(percent_decode("%2541"), "%41");  // decoded once only
  EXPECT_EQ(percent_decode("x%00y"), "xy");
}

// What a page may spell a file name with, and the name that comes out.
TEST(PercentDecode, NamesKeepEveryCharacter) {
  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    std::string escaped, name;
  } cases[] = {
      {"report-2024.txt", "report-2024.txt"},
      {"%E4%B8%AD", "中"},
      {"%e4%b8%ad%E6%96%87.mp4", "中文.mp4"},
      {"%F0%9F%98%80%ED%95%9C%EA%B8%80%C3%A9.txt", "😀한글é.txt"},
      {"😀한글é.txt", "😀한글é.txt"},              // unescaped UTF-8
      {"%E4\xB8%AD", "中"},                       // escaped and plain bytes read together
      // Not UTF-8, so GB18030, as the services' GBK pages escaped their names.
      {"%D6%D0%CE%C4.rar", "中文.rar"},
      {"\xD6\xD0\xCE\xC4.rar", "中文.rar"},
      {"%A8%A6%81%30%84%36", "é¥"},
      {"%94%39%FC%36.txt", "😀.txt"},
      // Neither: UTF-8 with U+FFFD for what is broken.
      {"%E4", fffd},
      {"%E4%B8", "涓"},  // cut short as UTF-8, whole as GB18030
      {"%80", fffd},
      {"a%FF%FEb", "a" + fffd + fffd + "b"},
      {"%E4%B8%AD%FF", "中" + fffd},
  };
  for (const auto& c : cases) EXPECT_EQ(percent_decode(c.escaped), c.name) << c.escaped;
}

TEST(PercentDecode, MalformedEscapesAreKeptAsTheyAre) {
  EXPECT_EQ(percent_decode("%"), "%");
  EXPECT_EQ(percent_decode("ab%"), "ab%");
  EXPECT_EQ(percent_decode("ab%4"), "ab%4");
  EXPECT_EQ(percent_decode("%G1x"), "%G1x");
  EXPECT_EQ(percent_decode("%4Gx"), "%4Gx");
  EXPECT_EQ(percent_decode("% 41"), "% 41");
  // The walk moves on three positions from every "%": the escape after it is
  // swallowed with the malformed one.
  EXPECT_EQ(percent_decode("%%41"), "%%41");
  EXPECT_EQ(percent_decode("%4%41"), "%4%41");
  EXPECT_EQ(percent_decode("100%%"), "100%%");
}

TEST(PercentDecode, SeesTheTextOnlyUpToItsFirstZeroByte) {
  EXPECT_EQ(percent_decode("%41\0%42"s), "A");
  EXPECT_EQ(percent_decode("%4\0" "1"s), "%4");
  EXPECT_EQ(percent_decode("%E4%B8%AD%00%E6%96%87"), "中文");
}

TEST(PercentDecode, LongInput) {
  std::string escaped, expected;
  for (int i = 0; i < 100000; ++i) {
    escaped += "%E4%B8%ADa+";
    expected += "中a+";
  }
  EXPECT_EQ(percent_decode(escaped), expected);
}

}  // namespace
}  // namespace sharelink
