#include "runtime/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace sharelink {
namespace {

using namespace std::string_literals;

// "中文": two three-byte characters.
const std::string kZhongWen = "\xE4\xB8\xAD\xE6\x96\x87";

TEST(TextLength, CountsBytesUpToTheFirstZero) {
  EXPECT_EQ(text_length(""), 0);
  EXPECT_EQ(text_length("1024"), 4);
  EXPECT_EQ(text_length(kZhongWen), 6);
  EXPECT_EQ(text_length("ab\0cd"s), 2);
  EXPECT_EQ(as_local("\0x"s), "");
}

TEST(TextLeft, TakesAtMostNBytes) {
  EXPECT_EQ(text_left("117.7421875", 5), "117.7");
  EXPECT_EQ(text_left("1024", 5), "1024");
  EXPECT_EQ(text_left("1024", 0), "");
  EXPECT_EQ(text_left("1024", -3), "");
  EXPECT_EQ(text_left("", 3), "");
  EXPECT_EQ(text_left("ab\0cd"s, 4), "ab");
  // Byte counts: a cut may split a character.
  EXPECT_EQ(text_left(kZhongWen, 4), "\xE4\xB8\xAD\xE6");
}

TEST(FindText, FindsFirstOccurrenceAtOrAfterStart) {
  EXPECT_EQ(find_text("0123456789ABCDEF", "A"), 11);
  EXPECT_EQ(find_text("0123456789ABCDEF", "xyz"), -1);
  EXPECT_EQ(find_text("abcabc", "bc"), 2);
  EXPECT_EQ(find_text("abcabc", "bc", 3), 5);
  EXPECT_EQ(find_text("abcabc", "abc", 4), 4);
  EXPECT_EQ(find_text("abc", "abcd"), -1);
  EXPECT_EQ(find_text("", "a"), -1);
  EXPECT_EQ(find_text("ab\0ab"s, "ab", 2), -1);
}

TEST(FindText, EmptySoughtAndOutOfRangeStarts) {
  EXPECT_EQ(find_text("abc", ""), 1);
  EXPECT_EQ(find_text("abc", "", 3), 1);  // 1, not the start position
  EXPECT_EQ(find_text("abc", "", 4), -1);
  EXPECT_EQ(find_text("", ""), -1);
  EXPECT_EQ(find_text("abc", "a", 0), 1);
  EXPECT_EQ(find_text("abc", "a", -5), 1);
  EXPECT_EQ(find_text("abc", "a", std::numeric_limits<int>::min()), 1);
  EXPECT_EQ(find_text("abc", "c", 4), -1);
  EXPECT_EQ(find_text("abc", "c", std::numeric_limits<int>::max()), -1);
}

TEST(FindText, StepsOverWholeCharacters) {
  // The last byte of 中 (E4 B8 AD) followed by the first of 文 (E6 96 87) spells
  // "AD E6", which must not be found as it starts inside a character.
  EXPECT_EQ(find_text(kZhongWen, "\xAD\xE6"), -1);
  EXPECT_EQ(find_text(kZhongWen, "\xB8"), -1);
  EXPECT_EQ(find_text(kZhongWen, "\xE6\x96\x87"), 4);
  // 😀 (F0 9F 98 80) and é (C3 A9): four and two bytes.
  EXPECT_EQ(find_text("\xF0\x9F\x98\x80\xC3\xA9" ".txt", "."), 7);
  EXPECT_EQ(find_text("\xF0\x9F\x98\x80\x80", "\x80"), 5);
  // A start inside a character begins the walk right there.
  EXPECT_EQ(find_text(kZhongWen, "\xB8", 2), 2);
  // A byte that begins no well-formed character is a step of its own, and a
  // broken sequence does not swallow the ASCII after it.
  EXPECT_EQ(find_text("\xE4\xB8" "a", "a"), 3);
  EXPECT_EQ(find_text("\x80\x80", "\x80", 2), 2);
  EXPECT_EQ(find_text("\xFF" "A", "A"), 2);
  EXPECT_EQ(find_text("ab\xE4", "z"), -1);
  EXPECT_EQ(find_text("ab\xE4", ""), 1);
  EXPECT_EQ(find_text("ab\xE4", "\xE4"), 3);
}

TEST(FindText, IgnoreCaseFoldsOnlyAsciiLetters) {
  EXPECT_EQ(find_text("Hello World", "WORLD", 1, true), 7);
  EXPECT_EQ(find_text("Hello World", "WORLD", 1, false), -1);
  EXPECT_EQ(find_text("a[b", "A[", 1, true), 1);
  // É (C3 89) and é (C3 A9) are different characters whatever the case setting.
  EXPECT_EQ(find_text("\xC3\xA9", "\xC3\x89", 1, true), -1);
  EXPECT_EQ(find_text("\xE4\xB8\xAD" "Ab", "\xE4\xB8\xAD" "aB", 1, true), 1);
}

TEST(ReplaceSpan, RemovesAndInserts) {
  EXPECT_EQ(replace_span("xyz", 1, 2, "ab"), "abz");
  EXPECT_EQ(replace_span("xyz", 10, 2, "ab"), "xyzab");
  EXPECT_EQ(replace_span("xyz", 4, 1, "ab"), "xyzab");
  EXPECT_EQ(replace_span("xyz", 2, 0, "ab"), "xabyz");
  EXPECT_EQ(replace_span("xyz", 2, -1, "ab"), "xabyz");
  EXPECT_EQ(replace_span("xyz", 2, 100, ""), "x");
  EXPECT_EQ(replace_span("xyz", 1, 3, ""), "");
  EXPECT_EQ(replace_span("xyz", 0, 1, "a"), "ayz");
  EXPECT_EQ(replace_span("xyz", -7, 1, "a"), "ayz");
  EXPECT_EQ(replace_span("", 5, 5, "a"), "a");
  EXPECT_EQ(replace_span("", 1, 1, ""), "");
}

TEST(ReplaceSpan, ExtremeArgumentsAndZeroBytes) {
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  EXPECT_EQ(replace_span("xyz", kMax, kMax, "a"), "xyza");
  EXPECT_EQ(replace_span("xyz", kMin, kMax, "a"), "a");
  EXPECT_EQ(replace_span("xyz", 2, kMin, "a"), "xayz");
  EXPECT_EQ(replace_span("xy\0z"s, 2, 1, "a\0b"s), "xa");
}

TEST(ToText, BytesUpToTheFirstZero) {
  EXPECT_EQ(to_text(std::string_view("\0abc"s)), "");
  EXPECT_EQ(to_text(std::string_view("ab\0c"s)), "ab");
  EXPECT_EQ(to_text(std::string_view("\xE4\xB8\xAD" "abc")), "\xE4\xB8\xAD" "abc");
  EXPECT_EQ(to_text(std::string_view()), "");
}

TEST(ToTextOfDouble, WritesThirteenSignificantDigits) {
  EXPECT_EQ(to_text(0.0), "0");
  EXPECT_EQ(to_text(1024.0), "1024");
  EXPECT_EQ(to_text(117.7421875), "117.7421875");
  EXPECT_EQ(to_text(2.0 / 3.0), "0.6666666666667");
  EXPECT_EQ(to_text(1e13), "1e+13");
  EXPECT_EQ(to_text(9999999999999.0), "9999999999999");
  EXPECT_EQ(to_text(0.0001), "0.0001");
  EXPECT_EQ(to_text(0.00001), "1e-05");
  EXPECT_EQ(to_text(-1.5), "-1.5");
}

/// printf's own answer; the tests run in the C locale unless they change it.
std::string printf_g13(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.13g", v);
  return buffer;
}

TEST(ToTextOfDouble, AgreesWithPrintf) {
  std::vector<double> values = {
      -0.0, 5e-324, 2.2250738585072014e-308, std::numeric_limits<double>::max(), 0.5, 1e-4, 9.99999999999995e-5,
      123456789012345.0, 0.1 + 0.2, 1e300, std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(), 16777217.0, 1099511627776.0,
      9999999999999.5, 99999999999994.0, 0.00012345678901234567};
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isnan(v)) values.push_back(v);  // C libraries disagree on how NaN looks
    values.push_back(std::ldexp(static_cast<double>(rng() % 1000000007), static_cast<int>(rng() % 120) - 60));
  }
  for (double v : values) EXPECT_EQ(to_text(v), printf_g13(v));
  EXPECT_EQ(to_text(std::numeric_limits<double>::quiet_NaN()), "nan");
}

TEST(ToNumber, ReadsTheLeadingNumber) {
  EXPECT_EQ(to_number("12abc"), 12);
  EXPECT_EQ(to_number("abc"), 0);
  EXPECT_EQ(to_number(" 42"), 42);
  EXPECT_EQ(to_number("\t\n\v\f\r 42"), 42);
  EXPECT_EQ(to_number(""), 0);
  EXPECT_EQ(to_number("117.7421875"), 117.7421875);
  EXPECT_EQ(to_number("-2.5e3x"), -2500);
  EXPECT_EQ(to_number("+.5"), 0.5);
  EXPECT_EQ(to_number("5."), 5);
  EXPECT_EQ(to_number("1.5e"), 1.5);
  EXPECT_EQ(to_number("1.5e+"), 1.5);
  EXPECT_EQ(to_number("."), 0);
  EXPECT_EQ(to_number("+-1"), 0);
  EXPECT_EQ(to_number("--1"), 0);
  EXPECT_EQ(to_number("- 1"), 0);
  EXPECT_EQ(to_number("1,5"), 1);
  EXPECT_EQ(to_number("4\0" "2"s), 4);
}

TEST(ToNumber, HexInfinityAndNan) {
  EXPECT_EQ(to_number("0x1p4"), 16);
  EXPECT_EQ(to_number("-0X.8"), -0.5);
  EXPECT_EQ(to_number("0x"), 0);
  EXPECT_EQ(to_number("0xg"), 0);
  EXPECT_EQ(to_number("0x.p1"), 0);
  EXPECT_EQ(to_number("0xinf"), 0);
  EXPECT_EQ(to_number("1p4"), 1);
  // A malformed exponent is not part of the number.
  EXPECT_EQ(to_number("0x1p+-5"), 1);
  EXPECT_EQ(to_number("0x1p-+5"), 1);
  EXPECT_EQ(to_number("0xAAp+-10713"), 170);
  EXPECT_EQ(to_number("1e+-5"), 1);
  EXPECT_EQ(to_number("2E-x"), 2);
  EXPECT_EQ(to_number("inf"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(to_number("-Infinity"), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(to_number("nan(123)")));
  EXPECT_TRUE(std::isnan(to_number("NAN")));
  EXPECT_EQ(to_number("in"), 0);
}

TEST(ToNumber, OutOfRangeSaturatesLikeStrtod) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(to_number("1e400"), kInf);
  EXPECT_EQ(to_number("-1e400"), -kInf);
  EXPECT_EQ(to_number("1e99999999999999999999999"), kInf);
  EXPECT_EQ(to_number("0.0000000001e-99999999999999999999"), 0);
  EXPECT_EQ(to_number("1e-400"), 0);
  EXPECT_TRUE(std::signbit(to_number("-1e-400")));
  EXPECT_EQ(to_number("100000000000000000000e-330"), 1e-310);
  EXPECT_EQ(to_number("0.001e311"), 1e308);
  EXPECT_EQ(to_number("0x1p5000"), kInf);
  EXPECT_EQ(to_number("0x0.0001p-1100"), 0);
  EXPECT_EQ(to_number("0e99999999999999"), 0);
  EXPECT_EQ(to_number(std::string(5000, '9')), kInf);
  EXPECT_EQ(to_number("0." + std::string(5000, '0') + "1"), 0);
}

TEST(ToNumber, FoldsFullWidthForms) {
  EXPECT_EQ(to_number("１２３"), 123);
  EXPECT_EQ(to_number("\u3000－５．５"), -5.5);  // ideographic space first
  EXPECT_EQ(to_number("１Ｅ３"), 1000);
  EXPECT_EQ(to_number("7～8"), 7);                // the wave dash ends it
  EXPECT_EQ(to_number("☆8"), 0);
  EXPECT_EQ(to_number("12\xE4"), 12);            // a broken character at the end
  EXPECT_EQ(to_number("\xEF\xBC"), 0);
  EXPECT_EQ(to_number("\xEF\xBC\x91"), 1);        // full-width 1, the bytes themselves
  EXPECT_EQ(to_number("\xEF\xBC" "1"), 0);       // broken: not a digit, and the 1 stays behind it
  EXPECT_EQ(to_number("１\xCC\x81"), 1);          // a combining accent is no digit
}

/// atof on the text after full-width folding, as the C library reads it.
TEST(ToNumber, AgreesWithStrtodOnArbitraryAsciiText) {
  const std::string alphabet = "0123456789.eEpPxX+- \tinfatyINFATY(_)9";
  std::mt19937 rng(7);
  for (int i = 0; i < 50000; ++i) {
    std::string s;
    const int len = static_cast<int>(rng() % 14);
    for (int k = 0; k < len; ++k) s += alphabet[rng() % alphabet.size()];
    char* end = nullptr;
    const double expected = std::strtod(s.c_str(), &end);
    const double got = to_number(s);
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(got)) << s;
    } else {
      EXPECT_EQ(got, expected) << '"' << s << '"';
      // Where nothing was read, C libraries differ in the sign of the zero.
      if (end != s.c_str()) {
        EXPECT_EQ(std::signbit(got), std::signbit(expected)) << s;
      }
    }
  }
}

TEST(ToSingle, RoundsToSinglePrecision) {
  EXPECT_EQ(to_single("16777217"), 16777216.0f);
  EXPECT_EQ(to_single("123456789"), 123456792.0f);
  EXPECT_EQ(to_single("0.1"), 0.1f);
  EXPECT_EQ(to_single("５"), 5.0f);
  EXPECT_EQ(to_single("junk"), 0.0f);
}

TEST(ToSingle, OutOfRangeGivesInfinity) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kMax = std::numeric_limits<float>::max();
  EXPECT_EQ(to_single("1e39"), kInf);
  EXPECT_EQ(to_single("-1e39"), -kInf);
  EXPECT_EQ(to_single("1e400"), kInf);
  EXPECT_EQ(to_single("3.4028235e38"), kMax);
  // Just under halfway to 2^128 still rounds down to the largest float; halfway rounds up.
  EXPECT_EQ(to_single("0x1.ffffffp127"), kInf);
  EXPECT_EQ(to_single("0x1.fffffefffffffp127"), kMax);
  EXPECT_EQ(to_single("-0x1.fffffefffffffp127"), -kMax);
  EXPECT_EQ(to_single("1e-50"), 0.0f);
  EXPECT_TRUE(std::isnan(to_single("nan")));
}

/// Switches the process locale for one test and back again.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) {
    active_ = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~ScopedLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
  bool active() const { return active_; }

 private:
  std::string saved_;
  bool active_ = false;
};

TEST(Numbers, DoNotDependOnTheProcessLocale) {
  ScopedLocale german("de_DE.UTF-8");
  if (!german.active()) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  // The locale is really in force: the C library now writes a decimal comma.
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", 1.5);
  ASSERT_STREQ(buffer, "1,5");

  EXPECT_EQ(to_text(117.7421875), "117.7421875");
  EXPECT_EQ(to_text(2.0 / 3.0), "0.6666666666667");
  EXPECT_EQ(to_number("117.7421875"), 117.7421875);
  EXPECT_EQ(to_number("1,5"), 1);
  EXPECT_EQ(to_single("2.5"), 2.5f);
}

TEST(TextPrimitives, AcceptArbitraryBytes) {
  std::mt19937 rng(99);
  for (int i = 0; i < 3000; ++i) {
    std::string s(rng() % 24, '\0');
    for (char& c : s) c = static_cast<char>(rng() % 4 == 0 ? 0x80 + rng() % 0x80 : rng() % 0x80);
    std::string sought = s.substr(rng() % (s.size() + 1), rng() % 3);
    const int start = static_cast<int>(rng() % 30) - 5;
    const int pos = find_text(s, sought, start, rng() % 2 == 0);
    const int len = text_length(s);
    ASSERT_TRUE(pos == -1 || (pos >= 1 && pos <= len)) << pos;
    (void)replace_span(s, start, static_cast<int>(rng() % 30) - 5, sought);
    (void)to_number(s);
    (void)to_single(s);
  }
}

}  // namespace
}  // namespace sharelink
