#pragma once
// Hexadecimal digits, and the "%XY" escapes written with them: the one place that
// reads and writes them.
#include <string>
#include <string_view>

namespace sharelink {

/// Value of a hexadecimal digit of either case, or -1.
int hex_value(char c);

inline bool is_hex_digit(char c) { return hex_value(c) >= 0; }

/// Whether `text` is an MD5 as text: exactly 32 hexadecimal digits, either case.
bool is_md5_hex(std::string_view text);

/// Whether `byte` is one of the unreserved characters of an address (RFC 3986): an
/// ASCII letter or digit, or one of "-._~".
bool is_unreserved(unsigned char byte);

/// Appends `byte` as "%XY" (upper-case digits).
void append_percent_escape(std::string& out, unsigned char byte);

/// `text` with every byte for which `escaped(byte)` holds written as "%XY".
std::string percent_escape(std::string_view text, bool (*escaped)(unsigned char));

/// The bytes `text` stands for: each "%XY" the byte it names, anything else (a
/// malformed escape included) as it is. Bytes only: no character set is read.
std::string percent_unescape(std::string_view text);

}  // namespace sharelink
