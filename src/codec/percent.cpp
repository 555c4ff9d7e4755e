#include "codec/percent.h"

#include "codec/gb18030.h"
#include "codec/hex_escape.h"

namespace sharelink {

local_text percent_decode(std::string_view escaped) {
  const std::string_view in = as_local(escaped);
  const size_t n = in.size();
  byte_string bytes(n, '\0');  // decoding never makes the text longer
  char* out = bytes.data();
  size_t i = 0;
  while (i < n) {
    if (in[i] != '%') {
      *out++ = in[i++];
      continue;
    }
    // An escape always covers three positions, even where it runs off the end.
    const int high = i + 1 < n ? hex_value(in[i + 1]) : -1;
    const int low = i + 2 < n ? hex_value(in[i + 2]) : -1;
    if (high < 0 || low < 0) {
      // Not an escape: keep what it covers as it is.
      for (size_t k = i; k < i + 3 && k < n; ++k) *out++ = in[k];
    } else if (const int value = high * 16 + low; value != 0) {
      *out++ = static_cast<char>(value);
    }
    i += 3;
  }
  bytes.resize(static_cast<size_t>(out - bytes.data()));
  // Pages of these services were written in GBK, and so were some of the names
  // they escape: bytes that are not UTF-8 but are GB18030 are read as that.
  return utf8_or_gb18030(bytes);
}

}  // namespace sharelink
