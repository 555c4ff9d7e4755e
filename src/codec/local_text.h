#pragma once
// The two kinds of text the program passes around. "Local text" is UTF-8 on every
// platform (the Windows build meets the system in UTF-16 at its edges); an
// operation on local text sees its argument only up to the first zero byte, as a
// C string would.
#include <string>
#include <string_view>

namespace sharelink {

/// UTF-8 bytes, never holding a zero byte.
using local_text = std::string;
/// A counted run of bytes that may hold zero bytes (a fetched body, a decoded escape).
using byte_string = std::string;

/// The local-text view of `text`: its bytes before the first zero byte.
inline std::string_view as_local(std::string_view text) {
  const std::size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

}  // namespace sharelink
