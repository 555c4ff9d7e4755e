#pragma once
// UTF-16 at the edges of the Windows build: window texts, the clipboard, the
// console, the command line, file paths. Local text is UTF-8, so `code_page` is
// CP_UTF8 wherever program text crosses; CP_ACP only for what the system hands
// over in its ANSI code page.
#include <string>
#include <string_view>

namespace sharelink {

/// `bytes` in `code_page` as UTF-16; invalid sequences become U+FFFD.
std::wstring to_wide(std::string_view bytes, unsigned code_page);

/// `wide` in `code_page`; in UTF-8 a lone surrogate becomes U+FFFD, in another
/// code page a character it lacks becomes its default character.
std::string from_wide(std::wstring_view wide, unsigned code_page);

}  // namespace sharelink
