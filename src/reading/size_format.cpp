#include "reading/size_format.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <cstddef>
#include <string_view>

namespace sharelink {

local_text format_size(double size) {
  static constexpr std::array<std::string_view, 6> units = {"B", "KB", "MB", "GB", "TB", "PB"};
  constexpr double divisor = 1024.0;
  // "Less than 1024" only when the difference is below -0.0000001.
  constexpr double tolerance = 0.0000001;

  double scaled = size;
  std::size_t unit = 0;
  // NaN has no magnitude and stays in bytes ("nanB"). Everything from 1024 PB
  // up, infinity included, stays in PB: the loop always ends.
  if (!std::isnan(scaled)) {
    while (!(scaled - divisor < -tolerance) && unit + 1 < units.size()) {
      scaled /= divisor;
      ++unit;
    }
  }
  // Cut, not rounded: 1048575 gives "1023." and then the unit.
  return text_left(to_text(scaled), 5) + std::string(units[unit]);
}

}  // namespace sharelink

namespace sharelink {

std::optional<std::uint64_t> read_whole_bytes(std::string_view text) {
  const std::string_view digits = trim(as_local(text));
  if (digits.empty()) return std::nullopt;
  if (digits.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace sharelink

namespace sharelink {
namespace {

/// The power of 1024 a unit stands for ("", B, K, KB, KiB ... P, PB, PiB, any
/// case), or -1.
int unit_power(std::string_view unit) {
  std::string lower;
  for (const char c : unit) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (lower.empty() || lower == "b" || lower == "byte" || lower == "bytes") return 0;
  static constexpr std::string_view prefixes = "kmgtp";
  const std::size_t power = prefixes.find(lower[0]);
  if (power == std::string_view::npos) return -1;
  const std::string_view rest = std::string_view(lower).substr(1);
  return rest.empty() || rest == "b" || rest == "ib" ? static_cast<int>(power) + 1 : -1;
}

}  // namespace

std::optional<std::uint64_t> read_size_in_words(std::string_view text) {
  const std::string folded = fold_full_width(as_local(text));
  constexpr std::string_view blanks = " \t\n\v\f\r";
  std::string_view rest = folded;
  const std::size_t first = rest.find_first_not_of(blanks);
  if (first == std::string_view::npos) return std::nullopt;
  rest = rest.substr(first, rest.find_last_not_of(blanks) + 1 - first);
  // The number: digits with "," between thousands, then a fraction.
  unsigned __int128 mantissa = 0;
  int fraction_digits = 0, digits = 0;
  bool in_fraction = false;
  std::size_t i = 0;
  for (; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c >= '0' && c <= '9') {
      if (++digits > 20) return std::nullopt;
      mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
      if (in_fraction) ++fraction_digits;
    } else if (c == ',' && !in_fraction && digits > 0 && i + 1 < rest.size() && rest[i + 1] >= '0' && rest[i + 1] <= '9') {
      continue;
    } else if (c == '.' && !in_fraction && digits > 0) {
      in_fraction = true;
    } else {
      break;
    }
  }
  if (digits == 0 || (in_fraction && fraction_digits == 0)) return std::nullopt;
  std::string_view unit = rest.substr(i);
  unit.remove_prefix(std::min(unit.find_first_not_of(blanks), unit.size()));
  const int power = unit_power(unit);
  if (power < 0) return std::nullopt;
  // mantissa × 1024^power / 10^fraction_digits, rounded to the nearest byte; at most
  // 20 digits times 2^50 stays within 128 bits.
  unsigned __int128 scaled = mantissa << (10 * power);
  unsigned __int128 divisor = 1;
  for (int k = 0; k < fraction_digits; ++k) divisor *= 10;
  const unsigned __int128 bytes = (scaled + divisor / 2) / divisor;
  if (bytes > UINT64_MAX) return std::nullopt;
  return static_cast<std::uint64_t>(bytes);
}

}  // namespace sharelink
