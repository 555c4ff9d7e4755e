#include "codec/percent.h"

#include "codec/codepage.h"

namespace sharelink {

namespace {

/// Value of a hexadecimal digit of either case, or -1.
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

local_text percent_decode(std::string_view escaped) {
  const std::string_view in = as_local(escaped);
  byte_string bytes;
  bytes.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    if (in[i] != '%') {
      bytes += in[i++];
      continue;
    }
    // An escape always covers three positions, even where it runs off the end.
    const int high = i + 1 < in.size() ? hex_value(in[i + 1]) : -1;
    const int low = i + 2 < in.size() ? hex_value(in[i + 2]) : -1;
    if (high < 0 || low < 0) {
      bytes.append(in.substr(i, 3));  // not an escape: keep what it covers as it is
    } else if (const int value = high * 16 + low; value != 0) {
      bytes += static_cast<char>(value);
    }
    i += 3;
  }
  return utf8_to_local(bytes);
}

}  // namespace sharelink
