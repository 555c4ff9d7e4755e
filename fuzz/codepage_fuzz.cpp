// utf8_to_local and local_to_utf8 on arbitrary bytes.
#include <cstdint>
#include <string>

#include "check.h"
#include "codec/codepage.h"

using namespace sharelink;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Read as UTF-8.
  local_text local = utf8_to_local(bytes);
  check(!fuzz::has_zero_byte(local), "local text holds a zero byte");
  check(local.size() <= 3 * bytes.size(), "local text longer than three times its input");
  check(local == utf8_to_local(std::string(bytes)), "conversion to local text is not repeatable");
  std::string_view up_to_zero = bytes.substr(0, bytes.find('\0'));
  bool ascii = true;
  for (unsigned char c : up_to_zero) ascii = ascii && c < 0x80;
  if (ascii) check(local == up_to_zero, "ASCII was changed");
  std::string back = local_to_utf8(local);
  check(fuzz::valid_utf8(back), "local text does not convert to valid UTF-8");
  check(back == local, "utf8_to_local produced text that is not well-formed UTF-8");

  // Read as local text.
  std::string utf8 = local_to_utf8(bytes);
  check(fuzz::valid_utf8(utf8), "local_to_utf8 produced invalid UTF-8");
  check(!fuzz::has_zero_byte(utf8), "UTF-8 text holds a zero byte");
  check(utf8.size() <= 3 * as_local(bytes).size(), "UTF-8 text longer than three times its input");
  // One round trip settles the text: a second one changes nothing.
  local_text settled = utf8_to_local(utf8);
  check(settled == utf8, "well-formed UTF-8 was changed");
  check(utf8_to_local(local_to_utf8(settled)) == settled, "round trip is not stable");
  return 0;
}
