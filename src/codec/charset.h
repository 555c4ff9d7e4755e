#pragma once
// The character set an answer says it is written in, and reading text in one.
#include <optional>
#include <string>
#include <string_view>

namespace sharelink {

/// The character set an answer declares, in lower case: the charset parameter of
/// its Content-Type header (`content_type`, the header's value; empty when there was
/// none), else a <meta charset="..."> or <meta http-equiv="Content-Type"
/// content="...; charset=..."> within the first 4 KB of `body` (one that says UTF-16
/// is taken for UTF-8, as a page read that far is none); a UTF-8 byte order mark at
/// the start of `body` counts first. Empty when none is declared.
std::string declared_charset(std::string_view content_type, std::string_view body);

/// The name `charset` (as declared_charset gives it) is known by, as browsers take
/// the names: "gb2312" and "cp936" are "gbk", "sjis" is "shift_jis", "latin1" and
/// "us-ascii" are "windows-1252", ...; a name without another stays as it is.
std::string charset_name(std::string_view charset);

/// `bytes` read in `charset` (as charset_name gives it; one the system's converter
/// may know: big5, shift_jis, euc-kr, windows-1251, iso-8859-2, ...) and written
/// as UTF-8, with
/// U+FFFD for each byte that begins no character (on Windows the code page's own
/// default character). Nothing when the system knows no
/// such character set, or the name is not a plain one (letters, digits, "-_.").
std::optional<std::string> system_charset_to_utf8(std::string_view charset, std::string_view bytes);

}  // namespace sharelink
