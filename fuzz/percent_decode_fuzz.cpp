// percent_decode on arbitrary escaped text.
#include <cstdint>
#include <string>

#include "check.h"
#include "codec/gb18030.h"
#include "codec/percent.h"
#include "codec/utf8.h"

using namespace sharelink;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view escaped(reinterpret_cast<const char*>(data), size);
  local_text decoded = percent_decode(escaped);
  check(!fuzz::has_zero_byte(decoded), "decoded text holds a zero byte");
  // Escapes only shrink; each byte left becomes at most three bytes of local text.
  check(decoded.size() <= 3 * escaped.size(), "decoded text longer than three times its input");
  check(decoded == percent_decode(std::string(escaped)), "decoding is not repeatable");
  check(fuzz::valid_utf8(decoded), "decoded text is not well-formed UTF-8");

  // Plain ASCII without escapes passes through as it stands.
  std::string_view seen = as_local(escaped);
  bool plain = seen.find('%') == std::string_view::npos;
  for (unsigned char c : seen) plain = plain && c < 0x80;
  if (plain) check(decoded == seen, "plain ASCII was changed");

  // Escaping every byte spells the same bytes back; %00 adds nothing.
  static const char digits[] = "0123456789ABCDEF0123456789abcdef";
  std::string all_escaped, without_zeros;
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(escaped[i]);
    int case_offset = (i % 2) ? 16 : 0;  // mix upper- and lower-case digits
    all_escaped += '%';
    all_escaped += digits[(c >> 4) + case_offset];
    all_escaped += digits[(c & 15) + case_offset];
    if (c != 0) without_zeros += static_cast<char>(c);
  }
  // Those bytes are read as UTF-8, else as GB18030, else as repaired UTF-8.
  const std::string read = is_utf8(without_zeros)
                               ? without_zeros
                               : gb18030_to_utf8(without_zeros).value_or(utf8_to_local(without_zeros));
  check(percent_decode(all_escaped) == read, "escaped bytes do not decode to the bytes they spell");
  return 0;
}
