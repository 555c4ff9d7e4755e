#pragma once
// The main window on Windows: plain Win32 controls built from the window table.
#include <windows.h>

#include "app/actions.h"

namespace sharelink::app {

/// Resource id of the program's main icon (sharelink.rc).
inline constexpr int main_icon_id = 1;

/// Registers the window class, creates the main window and its controls hidden,
/// runs the created event, then shows and activates the window. `services` must
/// outlive the window. Returns nullptr when the window or a control cannot be made;
/// nothing stays open then.
HWND create_main_window(HINSTANCE instance, const action_services& services);

/// Runs the message loop with dialog-style keyboard handling for `window` until the
/// quit message arrives; returns the quit message's exit code.
int run_message_loop(HWND window);

}  // namespace sharelink::app
