// to_number and to_single on arbitrary text.
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

#include "check.h"
#include "runtime/text.h"

using namespace sharelink;
using fuzz::check;

namespace {

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

/// True when every byte is one that a plain decimal number (with blanks) is made of.
bool numeric_bytes(std::string_view text) {
  for (char c : text)
    if (!std::strchr(" \t\n\v\f\r+-.0123456789eE", c) || c == '\0') return false;
  return true;
}

double c_strtod(const std::string& text) {
  static locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
  return strtod_l(text.c_str(), nullptr, c_locale);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  double number = to_number(text);
  float single = to_single(text);

  check(same(number, to_number(as_local(text))), "to_number read past the first zero byte");
  if (std::isnan(number)) {
    check(std::isnan(single), "to_single of NaN is not NaN");
  } else if (std::fabs(number) <= FLT_MAX) {
    check(single == static_cast<float>(number), "to_single is not to_number rounded");
  } else {
    check(std::signbit(single) == std::signbit(number) && std::fabs(single) >= FLT_MAX,
          "to_single of an out-of-range number lost its sign or size");
  }

  std::string seen(as_local(text));
  if (numeric_bytes(seen)) {
    check(same(number, c_strtod(seen)), "to_number differs from atof in the C locale");
    // The full-width forms read as the ASCII they stand for.
    std::string wide;
    for (char c : seen) {
      if (c == ' ') {
        wide += "\u3000";  // the ideographic space
      } else if (c > ' ') {
        // U+FF01..U+FF5E stand for '!'..'~', in UTF-8 EF BC xx or EF BD xx.
        const unsigned code = 0xFF00u + static_cast<unsigned char>(c) - 0x20u;
        wide += '\xEF';
        wide += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        wide += static_cast<char>(0x80 | (code & 0x3F));
      } else {
        wide += c;
      }
    }
    check(same(number, to_number(wide)), "full-width digits read differently");
  }
  return 0;
}
