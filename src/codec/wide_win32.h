#pragma once
// UTF-16 at the edges of the Windows build: window texts, the console, the
// command line. `code_page` is CP_ACP for local text and CP_UTF8 for UTF-8.
#include <string>
#include <string_view>

namespace sharelink {

/// `bytes` in `code_page` as UTF-16; invalid sequences become U+FFFD.
std::wstring to_wide(std::string_view bytes, unsigned code_page);

/// `wide` in `code_page`; characters it lacks become the code page's default
/// character ('?' in code page 936).
std::string from_wide(std::wstring_view wide, unsigned code_page);

}  // namespace sharelink
