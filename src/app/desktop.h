#pragma once
// The desktop services the actions need: clipboard and browser.
#include <string_view>

namespace sharelink {

/// Replaces the whole system clipboard with `local` (local text) as plain text.
/// Returns whether it did.
bool set_clipboard_text(std::string_view local);

/// Hands `address` unchanged to the desktop's default handler for it (normally the
/// web browser). Never blocks and reports nothing.
void open_web_address(std::string_view address);

}  // namespace sharelink
