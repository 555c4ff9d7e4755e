// Bytes from outside read as local text: utf8_to_local and utf8_or_gb18030.
#include <cstdint>
#include <string>

#include "check.h"
#include "codec/gb18030.h"
#include "codec/hex_escape.h"
#include "codec/utf8.h"

using namespace sharelink;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string_view up_to_zero = bytes.substr(0, bytes.find('\0'));

  local_text local = utf8_to_local(bytes);
  check(!fuzz::has_zero_byte(local), "local text holds a zero byte");
  check(local.size() <= 3 * bytes.size(), "local text longer than three times its input");
  check(local == utf8_to_local(std::string(bytes)), "conversion to local text is not repeatable");
  bool ascii = true;
  for (unsigned char c : up_to_zero) ascii = ascii && c < 0x80;
  if (ascii) check(local == up_to_zero, "ASCII was changed");
  check(fuzz::valid_utf8(local), "utf8_to_local produced text that is not well-formed UTF-8");
  check(utf8_to_local(local) == local, "well-formed UTF-8 was changed");

  // Either way of keeping what is broken gives local text; escaped, the bytes are
  // all still there.
  for (const broken_bytes broken : {broken_bytes::replaced, broken_bytes::escaped}) {
    const std::string read = utf8_or_gb18030(bytes, broken);
    check(fuzz::valid_utf8(read) && !fuzz::has_zero_byte(read), "utf8_or_gb18030 gave no local text");
    if (is_utf8(up_to_zero)) check(read == up_to_zero, "UTF-8 was changed");
    if (broken == broken_bytes::replaced && !gb18030_to_utf8(up_to_zero)) check(read == local, "not mended as utf8_to_local");
    if (broken == broken_bytes::escaped && !gb18030_to_utf8(up_to_zero))
      check(percent_unescape(read) == percent_unescape(up_to_zero), "an escaped byte was lost");
  }
  return 0;
}
