#pragma once
// The four window actions, written once for every back end. They reach the
// window only through `window_access` and the outside world only through
// `action_services`, so they can be driven by a fake window in tests.
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "resolve/named_services.h"
#include "runtime/text.h"

namespace sharelink::app {

/// What a resolver gives the window: the five fields, and every file the page
/// lists, each as its own five fields.
struct resolved_page {
  resolved_file fields;
  std::vector<resolved_file> files;

  resolved_page() = default;
  /// A page read for its fields alone. Implicit, so that a resolver of one file
  /// (a test's, say) is a resolver of pages as it stands.
  resolved_page(resolved_file only) : fields(std::move(only)) {}  // NOLINT(google-explicit-constructor)
  bool operator==(const resolved_page&) const = default;
};

/// Access to the controls by name (see window_description.h). Texts are local text:
/// a back end converts to and from the widget's own encoding.
class window_access {
 public:
  virtual ~window_access() = default;
  virtual local_text text(std::string_view name) const = 0;
  virtual void set_text(std::string_view name, std::string_view local) = 0;
  virtual bool checked(std::string_view name) const = 0;
  virtual void set_checked(std::string_view name, bool on) = 0;
  /// Whether the edit box's whole text can be written as local text (UTF-8). False
  /// when it holds half of a surrogate pair, which text() gives as U+FFFD.
  virtual bool text_is_local(std::string_view name) const {
    (void)name;
    return true;
  }
  /// Shows `files` in the file list with the one at `chosen` selected (none when
  /// it is -1), or hides the list when `files` is empty. The window keeps the files
  /// and hands the one chosen later to choose_file_action.
  virtual void show_files(std::vector<resolved_file> files, std::ptrdiff_t chosen) = 0;
};

/// What the actions call outside the window.
struct action_services {
  std::function<resolved_page(std::string_view)> resolve_kuaichuan;
  std::function<resolved_page(std::string_view)> resolve_pan;
  std::function<bool(std::string_view)> set_clipboard_text;
  std::function<void(std::string_view)> open_web_address;
  /// The address opened when the window closes (local text); empty opens nothing.
  std::string home_page;
  /// Set when the window closes with a resolution under way: the resolvers' fetches
  /// end soon after. May be null.
  std::shared_ptr<std::atomic<bool>> stop_fetches;
};

/// The real resolvers, clipboard and shell of this platform; the home page is the
/// offline page shipped with the program (see home_page.h).
action_services platform_services();

/// Created event: checks the Kuaichuan choice.
void default_choice_action(window_access& window);

/// Clicked event of the resolve button: resolves with each checked service in turn
/// (Kuaichuan, then Pan) and writes name, type, size, MD5 and last the address;
/// then lists the page's files when it has several (show_resolved).
void resolve_action(window_access& window, const action_services& services);

/// One resolution that a press of the resolve button asks for.
struct resolve_request {
  bool pan = false;    ///< the Pan service; otherwise Kuaichuan
  local_text address;  ///< the text of that service's address box
  bool operator==(const resolve_request&) const = default;
};

// The resolve action in three steps, so that the fetches can run off the window's
// thread: read (window thread), run (any thread; touches no window), show (window
// thread). In that order they do what resolve_action does.

/// Reads the two choices and, for each one checked, its address box. An address
/// holding a character the code page lacks is read as empty: sent with '?' in its
/// place it could reach another page, so it resolves as an address that cannot be
/// fetched, and nothing is sent.
std::vector<resolve_request> read_resolve_requests(const window_access& window);

/// Runs the resolver of each request, in order.
std::vector<resolved_page> run_resolve_requests(const std::vector<resolve_request>& requests,
                                                const action_services& services);

/// Writes each result into the output boxes in turn: name, type, size, MD5 and
/// last the address. Then the file list: a page of several files shows them all,
/// the one whose fields the boxes show selected; a page of one file or none hides
/// the list, so that the window looks as it would without one.
void show_resolved(window_access& window, std::vector<resolved_page> results);

/// A file chosen in the list, by a click or a key: its fields fill the five boxes
/// as a resolution's do, the address last, so that a press on the address box
/// copies this file's address. The list stays as it is.
void choose_file_action(window_access& window, const resolved_file& file);

/// Left-button press on the download-address box: copies its text to the clipboard
/// unless it is empty. The position and key state are not used.
void copy_action(window_access& window, const action_services& services, int x = 0, int y = 0,
                 int key_state = 0);

/// Being-destroyed event: opens the home page, if there is one.
void home_page_action(const action_services& services);

}  // namespace sharelink::app
