#include "runtime/text.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

#include "codec/ascii_case.h"
#include "codec/hex_escape.h"
#include "codec/utf8.h"

namespace sharelink {

namespace {

/// Compares `sought` with the bytes at the start of `here` (which holds at least
/// as many bytes). With `ignore_case`, ASCII letters compare without regard to
/// case; the bytes of other characters, all 0x80 and above, compare exactly.
bool matches_at(const char* here, std::string_view sought, bool ignore_case) {
  if (!ignore_case) return std::equal(sought.begin(), sought.end(), here);
  for (size_t i = 0; i < sought.size(); ++i) {
    if (ascii_lower(here[i]) != ascii_lower(sought[i])) return false;
  }
  return true;
}

/// The ASCII character that a full-width form stands for, or 0. These are the
/// characters the number reader has always folded: the full-width ASCII forms
/// (with the yen sign standing for '$' and the macron for '~', where the
/// Chinese code page puts them), the ideographic space, the wave dash and the
/// two stars.
char full_width_ascii(char32_t c) {
  if (c >= 0xFF01 && c <= 0xFF5D && c != 0xFF04) return static_cast<char>(c - 0xFF01 + 0x21);
  switch (c) {
    case 0xFFE5: return '$';
    case 0xFFE3: return '~';
    case 0xFF5E: return '~';
    case 0x3000: return ' ';
    case 0x2605:
    case 0x2606: return '*';
    default: return 0;
  }
}

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/// For a number that the parser found out of range: true when it is too large
/// (so it reads as infinity), false when it is too small (so it reads as zero).
/// `number` is exactly the matched mantissa-and-exponent text, without sign or
/// "0x" prefix. Only the rough position of the leading digit matters here, since
/// out-of-range values lie hundreds of orders of magnitude from 1.
bool overflows(std::string_view number, bool hex) {
  const char exponent_mark = hex ? 'p' : 'e';
  const int digit_weight = hex ? 4 : 1;
  int64_t magnitude = 0;
  bool seen_point = false, seen_nonzero = false;
  size_t i = 0;
  for (; i < number.size(); ++i) {
    const char c = number[i];
    if (c == '.') {
      seen_point = true;
    } else if (ascii_lower(c) == exponent_mark) {
      break;
    } else if (!seen_nonzero) {
      if (hex_value(c) != 0) {
        seen_nonzero = true;
      } else if (seen_point) {
        magnitude -= digit_weight;
      }
    } else if (!seen_point) {
      magnitude += digit_weight;
    }
  }
  int64_t exponent = 0;
  bool negative = false;
  if (++i < number.size() && (number[i] == '+' || number[i] == '-')) negative = number[i++] == '-';
  for (; i < number.size(); ++i) {
    exponent = std::min<int64_t>(exponent * 10 + (number[i] - '0'), int64_t{1} << 40);
  }
  return magnitude + (negative ? -exponent : exponent) > 0;
}

bool is_digit(char c, bool hex) { return hex ? is_hex_digit(c) : (c >= '0' && c <= '9'); }

/// Length of the number (digits, optional point and digits, optional exponent)
/// at the start of `s`, or 0 when there is none. An exponent mark without a
/// well-formed exponent after it is not part of the number.
size_t number_length(std::string_view s, bool hex) {
  size_t i = 0, digits = 0;
  while (i < s.size() && is_digit(s[i], hex)) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i], hex)) ++i, ++digits;
  }
  if (digits == 0) return 0;
  const size_t mantissa_end = i;
  if (i < s.size() && ascii_lower(s[i]) == (hex ? 'p' : 'e')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const size_t exponent_start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == exponent_start) return mantissa_end;
  }
  return i;
}

/// Reads a number at the start of `s` the way strtod does in the C locale.
double read_c_number(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && is_c_space(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const auto signed_value = [negative](double v) { return negative ? -v : v; };
  const std::string_view rest = s.substr(i);

  // The extent of the number is found here rather than left to from_chars, which
  // in some library versions reads an exponent such as "p+-5" that strtod refuses.
  bool hex = false;
  size_t length = 0;
  if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    length = number_length(rest.substr(2), true);
    // "0x" without hex digits is the number 0 followed by an 'x'.
    if (length == 0) return signed_value(0);
    hex = true;
  } else {
    length = number_length(rest, false);
  }

  double value = 0;
  if (length == 0) {
    // No digits: only "inf", "infinity" and "nan" with its optional "(...)" remain.
    if (rest.empty() || (ascii_lower(rest[0]) != 'i' && ascii_lower(rest[0]) != 'n')) return 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    return ec == std::errc() ? signed_value(value) : 0;
  }

  const std::string_view number = rest.substr(hex ? 2 : 0, length);
  const auto fmt = hex ? std::chars_format::hex : std::chars_format::general;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value, fmt);
  if (ec == std::errc::result_out_of_range) {
    return signed_value(overflows(number, hex) ? std::numeric_limits<double>::infinity() : 0.0);
  }
  if (ec != std::errc()) return 0;
  return signed_value(value);
}

}  // namespace

std::string fold_full_width(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const utf8_char c = read_utf8(text, i);
    const char ascii = c.length > 1 ? full_width_ascii(c.code_point) : 0;
    if (ascii != 0) {
      out += ascii;
      i += c.length;
    } else {
      out += text[i++];
    }
  }
  return out;
}


int text_length(std::string_view text) {
  const size_t n = as_local(text).size();
  return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

local_text text_left(std::string_view text, int n) {
  if (n <= 0) return {};
  const std::string_view t = as_local(text);
  return local_text(t.substr(0, std::min(t.size(), static_cast<size_t>(n))));
}

int find_text(std::string_view text, std::string_view sought, int start, bool ignore_case) {
  const std::string_view t = as_local(text);
  const std::string_view s = as_local(sought);
  const size_t skip = start <= 1 ? 0 : static_cast<size_t>(start) - 1;
  if (skip >= t.size()) return -1;
  if (s.empty()) return 1;
  // Positions are reported as int, so a match is only looked for where it can be.
  const size_t len = std::min(t.size(), static_cast<size_t>(INT_MAX));
  size_t pos = skip;
  while (len - pos >= s.size()) {
    if (matches_at(t.data() + pos, s, ignore_case)) return static_cast<int>(pos + 1);
    // On by one character, so a match never begins inside one; a byte that
    // begins no well-formed character is one on its own.
    pos += std::max<size_t>(read_utf8(t, pos).length, 1);
  }
  return -1;
}

local_text replace_span(std::string_view text, int start, int n, std::string_view replacement) {
  const std::string_view t = as_local(text);
  const std::string_view r = as_local(replacement);
  const int64_t p64 = std::clamp<int64_t>(int64_t{start} - 1, 0, static_cast<int64_t>(t.size()));
  const size_t p = static_cast<size_t>(p64);
  const size_t removed = n <= 0 ? 0 : std::min(static_cast<size_t>(n), t.size() - p);
  local_text out;
  out.reserve(t.size() - removed + r.size());
  out.append(t.substr(0, p));
  out.append(r);
  out.append(t.substr(p + removed));
  return out;
}

std::string_view trim(std::string_view text, std::string_view blanks) {
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) + 1 - first);
}

local_text to_text(std::string_view bytes) { return local_text(as_local(bytes)); }

local_text to_text(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::general, 13);
  if (result.ec != std::errc()) return {};
  return local_text(buffer, result.ptr);
}

double to_number(std::string_view text) { return read_c_number(fold_full_width(as_local(text))); }

float to_single(std::string_view text) {
  const double value = to_number(text);
  if (std::isnan(value)) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    return std::signbit(value) ? -nan : nan;
  }
  constexpr double float_max = std::numeric_limits<float>::max();
  if (std::fabs(value) > float_max) {
    // Halfway between the largest float and 2^128 rounds to even, which is 2^128:
    // below that the value still rounds to the largest float.
    const double halfway = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
    const float limit = std::fabs(value) < halfway ? std::numeric_limits<float>::max()
                                                   : std::numeric_limits<float>::infinity();
    return value < 0 ? -limit : limit;
  }
  return static_cast<float>(value);
}

}  // namespace sharelink
