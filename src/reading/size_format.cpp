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
