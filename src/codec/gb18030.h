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

}  // namespace sharelink
