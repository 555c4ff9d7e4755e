#include "reading/size_format.h"

#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <string>

#include <gtest/gtest.h>

namespace sharelink {
namespace {

TEST(FormatSize, ScalesToTheLargestFittingUnit) {
  EXPECT_EQ(format_size(0), "0B");
  EXPECT_EQ(format_size(512), "512B");
  EXPECT_EQ(format_size(1023), "1023B");
  EXPECT_EQ(format_size(1024), "1KB");
  EXPECT_EQ(format_size(1048576), "1MB");
  EXPECT_EQ(format_size(1073741824), "1GB");
  EXPECT_EQ(format_size(1099511627776.0), "1TB");
  EXPECT_EQ(format_size(1.5 * std::pow(1024.0, 5)), "1.5PB");
}

TEST(FormatSize, NumberIsCutToFiveCharactersNotRounded) {
  EXPECT_EQ(format_size(1536), "1.5KB");
  EXPECT_EQ(format_size(2047), "1.999KB");
  EXPECT_EQ(format_size(999999), "976.5KB");
  EXPECT_EQ(format_size(1048575), "1023.KB");
  EXPECT_EQ(format_size(123456789), "117.7MB");
}

TEST(FormatSize, ToleranceAndSmallValues) {
  EXPECT_EQ(format_size(1023.99999999), "0.999KB");
  EXPECT_EQ(format_size(1023.999), "1023.B");
  EXPECT_EQ(format_size(0.5), "0.5B");
  EXPECT_EQ(format_size(-5), "-5B");
  EXPECT_EQ(format_size(-1048576), "-1048B");
  // "%.13g" switches to exponent notation for tiny values; the cut still applies.
  EXPECT_EQ(format_size(0.00001), "1e-05B");
}

TEST(FormatSize, HugeAndNonFiniteSizesStayWithinSevenBytes) {
  const double pb = std::pow(1024.0, 5);
  EXPECT_EQ(format_size(1024 * pb), "1024PB");
  EXPECT_EQ(format_size(2048 * pb), "2048PB");
  EXPECT_EQ(format_size(std::numeric_limits<double>::infinity()), "infPB");
  EXPECT_EQ(format_size(-std::numeric_limits<double>::infinity()), "-infB");
  const std::string nan = format_size(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(nan.substr(nan.size() - 1), "B");
  EXPECT_NE(nan.find("nan"), std::string::npos);
  for (double size : {std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                      std::numeric_limits<double>::denorm_min(), 1e300, -1e-300, 3.4e38}) {
    EXPECT_LE(format_size(size).size(), 7u) << size;
  }
}

TEST(ReadWholeBytes, TakesDecimalDigitsExactlyAndNothingElse) {
  const std::pair<std::string, std::optional<std::uint64_t>> rows[] = {
      {"0", 0},
      {"1536", 1536},
      {"16777217", 16777217},  // exact where single precision is not
      {" \t1048576\r\n", 1048576},
      {"0001", 1},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", std::nullopt},
      {"000000000000000000001", std::nullopt},  // 21 digits
      {"", std::nullopt},
      {"  ", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {"1536.0", std::nullopt},
      {"1e6", std::nullopt},
      {"1 536", std::nullopt},
      {"1536abc", std::nullopt},
      {"\xA3\xB1", std::nullopt},  // full-width 1
      {std::string("12\0" "3", 4), 12},
  };
  for (const auto& [text, bytes] : rows) EXPECT_EQ(read_whole_bytes(text), bytes) << text;
}

// 1024-based, as this program writes sizes; a text it cannot read is no size at all.
TEST(ReadSizeInWords, ReadsUnitsAndNothingElse) {
  const std::pair<std::string, std::optional<std::uint64_t>> rows[] = {
      {"1.5 MB", 1572864},
      {"1,234 KB", 1263616},
      {"2G", 2147483648},
      {"1.5 MiB", 1572864},
      {"512 B", 512},
      {"3.2 GB", 3435973837},  // 3435973836.8, to the nearest byte
      {"1024", 1024},
      {" 7 kb ", 7168},
      {"1 tib", 1099511627776},
      {"2 PB", 2251799813685248},
      {"10 bytes", 10},
      {"\xEF\xBC\x93 MB", 3145728},  // a full-width 3
      {"16384 PB", std::nullopt},  // 2^64: past 64 bits
      {"about 3 MB", std::nullopt},
      {"3 MBs", std::nullopt},
      {"1.2.3 KB", std::nullopt},
      {"-1 KB", std::nullopt},
      {".5 KB", std::nullopt},
      {"5. KB", std::nullopt},
      {"", std::nullopt},
      {"KB", std::nullopt},
  };
  for (const auto& [text, bytes] : rows) EXPECT_EQ(read_size_in_words(text), bytes) << text;
}

}  // namespace
}  // namespace sharelink
