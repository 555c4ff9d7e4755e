#include "resolve/size_format.h"

#include <array>
#include <cmath>
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
