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

TEST(PercentDecode, EscapedBytesAreReadAsUtf8) {
  EXPECT_EQ(percent_decode("%E4%B8%AD"), "\xD6\xD0");
  EXPECT_EQ(percent_decode("%e4%b8%ad%E6%96%87.mp4"), "\xD6\xD0\xCE\xC4.mp4");
  EXPECT_EQ(percent_decode("%E4%B8"), "?");
  EXPECT_EQ(percent_decode("%80"), "?");
  EXPECT_EQ(percent_decode("%F0%9F%98%80.txt"), "??.txt");
  // Escaped and unescaped bytes of one character are read together.
  EXPECT_EQ(percent_decode("%E4\xB8%AD"), "\xD6\xD0");
  EXPECT_EQ(percent_decode("\xE4\xB8\xAD"), "\xD6\xD0");
  // Bytes already in the local code page are not UTF-8.
  EXPECT_EQ(percent_decode("\xD6\xD0"), "??");
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
  EXPECT_EQ(percent_decode("%E4%B8%AD%00%E6%96%87"), "\xD6\xD0\xCE\xC4");
}

TEST(PercentDecode, LongInput) {
  std::string escaped, expected;
  for (int i = 0; i < 100000; ++i) {
    escaped += "%E4%B8%ADa+";
    expected += "\xD6\xD0" "a+";
  }
  EXPECT_EQ(percent_decode(escaped), expected);
}

}  // namespace
}  // namespace sharelink
