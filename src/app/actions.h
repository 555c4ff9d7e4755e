#pragma once
// The four window actions, written once for every back end. They reach the
// window only through `window_access` and the outside world only through
// `action_services`, so they can be driven by a fake window in tests.
#include <functional>
#include <string_view>

#include "resolve/resolved_file.h"
#include "runtime/text.h"

namespace sharelink::app {

/// Access to the controls by name (see window_description.h). Texts are local text:
/// a back end converts to and from the widget's own encoding.
class window_access {
 public:
  virtual ~window_access() = default;
  virtual local_text text(std::string_view name) const = 0;
  virtual void set_text(std::string_view name, std::string_view local) = 0;
  virtual bool checked(std::string_view name) const = 0;
  virtual void set_checked(std::string_view name, bool on) = 0;
};

/// What the actions call outside the window.
struct action_services {
  std::function<resolved_file(std::string_view)> resolve_kuaichuan;
  std::function<resolved_file(std::string_view)> resolve_pan;
  std::function<bool(std::string_view)> set_clipboard_text;
  std::function<void(std::string_view)> open_web_address;
};

/// The real resolvers, clipboard and shell of this platform.
action_services platform_services();

/// The maker's home page, opened when the window closes.
inline constexpr std::string_view home_page_address = "https://sharelink.example.org/";

/// Created event: checks the Kuaichuan choice.
void default_choice_action(window_access& window);

/// Clicked event of the resolve button: resolves with each checked service in turn
/// (Kuaichuan, then Pan) and writes name, type, size, MD5 and last the address.
void resolve_action(window_access& window, const action_services& services);

/// Left-button press on the download-address box: copies its text to the clipboard
/// unless it is empty. The position and key state are not used.
void copy_action(window_access& window, const action_services& services, int x = 0, int y = 0,
                 int key_state = 0);

/// Being-destroyed event: opens the home page.
void home_page_action(const action_services& services);

}  // namespace sharelink::app
