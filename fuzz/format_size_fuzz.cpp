// format_size on every double, NaNs and infinities included.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "check.h"
#include "reading/size_format.h"

using namespace sharelink;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input_reader in(data, size);
  double bytes = in.take<double>();
  local_text text = format_size(bytes);

  check(text.size() <= 7, "size text longer than seven bytes");
  check(!fuzz::has_zero_byte(text), "size text holds a zero byte");
  check(!text.empty() && text.back() == 'B', "size text does not end in a unit");
  std::size_t unit_at = text.size() - 1;
  if (unit_at > 0 && std::string_view("KMGTP").find(text[unit_at - 1]) != std::string_view::npos)
    --unit_at;
  check(unit_at >= 1 && unit_at <= 5, "number part is empty or longer than five bytes");

  // A size that fits the unit table shows a number below 1024 of its unit. (Within
  // the scaling tolerance of 1024 PB there is no larger unit to move to.)
  if (std::isfinite(bytes) && bytes >= 0 && bytes < 1023.999 * std::ldexp(1.0, 50)) {
    double shown = std::strtod(text.substr(0, unit_at).c_str(), nullptr);
    check(shown >= 0 && shown < 1024, "number part out of range for its unit");
  }
  check(format_size(bytes) == text, "format_size is not repeatable");
  return 0;
}
