// Character sets other than UTF-8 and GB18030, read with the C library's iconv.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "codec/charset.h"

namespace sharelink {

std::optional<std::string> system_charset_to_utf8(std::string_view charset, std::string_view bytes) {
  if (charset.empty() || charset.size() > 40) return std::nullopt;
  for (const char c : charset)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
          c == '.'))
      return std::nullopt;
  // The Windows code pages these names stand for on the web, which the C library
  // knows by these names (its SHIFT_JIS reads a backslash as a yen sign).
  std::string name(charset);
  if (name == "shift_jis") name = "CP932";
  else if (name == "euc-kr") name = "CP949";
  else if (name == "big5") name = "CP950";
  const iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;

  std::string out;
  char buffer[16384];
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  while (in_left > 0) {
    char* to = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t done = iconv(cd, &in, &in_left, &to, &room);
    const int error = errno;
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (done != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    // A byte that begins no character: one U+FFFD, then on from the next byte; a
    // character the end cuts off: one U+FFFD for the rest.
    out += "\xEF\xBF\xBD";
    if (error == EINVAL) break;
    ++in;
    --in_left;
  }
  // A character set with shift states may have a last sequence to write.
  char* to = buffer;
  std::size_t room = sizeof buffer;
  iconv(cd, nullptr, nullptr, &to, &room);
  out.append(buffer, static_cast<std::size_t>(to - buffer));
  iconv_close(cd);
  return out;
}

}  // namespace sharelink
