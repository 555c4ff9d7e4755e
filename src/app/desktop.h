#pragma once
// The desktop services the actions need: clipboard, browser and the home page.
#include <string>
#include <string_view>

namespace sharelink {

/// Replaces the whole system clipboard with `local` (local text) as plain text.
/// Returns whether it did.
bool set_clipboard_text(std::string_view local);

/// Hands `address` unchanged to the desktop's default handler for it (normally the
/// web browser). Never blocks and reports nothing.
void open_web_address(std::string_view address);

/// The file address of the offline home page shipped with the program (the first
/// of home_page_candidates that is a file), or empty when it is not there.
std::string home_page_address();

}  // namespace sharelink
