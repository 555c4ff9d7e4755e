#pragma once
// Reading GB18030 (and so GBK and GB2312, which it contains) into UTF-8.
#include <optional>
#include <string>
#include <string_view>

namespace sharelink {

/// `bytes` read as GB18030 and written as UTF-8, or nothing when any byte
/// sequence in them is not a GB18030 character (a lone byte of 80 or FF, a lead
/// byte without its trail, a code that stands for nothing). Zero bytes are kept.
std::optional<std::string> gb18030_to_utf8(std::string_view bytes);

/// `bytes` read as GB18030 into UTF-8, with U+FFFD for each byte that begins no
/// character (a broken code is replaced one byte at a time). For whole pages.
std::string gb18030_to_utf8_replacing(std::string_view bytes);

/// What becomes of bytes that are neither UTF-8 nor GB18030.
enum class broken_bytes {
  replaced,  ///< U+FFFD for each maximal broken run, as utf8_to_local mends them
  escaped,   ///< each byte of a broken run as "%XY", as a browser sends a page's address
};

/// Bytes that may be UTF-8 or GB18030 (which holds GBK and GB2312, in which many
/// Chinese pages and the names they escape are written), as local text: read as
/// UTF-8 when they are well-formed UTF-8, else as GB18030 when they are that, else
/// as UTF-8 with what is broken `broken`. Up to the first zero byte.
std::string utf8_or_gb18030(std::string_view bytes, broken_bytes broken = broken_bytes::replaced);

}  // namespace sharelink
