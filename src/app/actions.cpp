#include "app/actions.h"

#include "app/window_description.h"

namespace sharelink::app {
namespace {

void show(window_access& window, const resolved_file& file) {
  // This order is visible to the user: the address box changes last.
  window.set_text(names::file_name, file.file_name);
  window.set_text(names::file_type, file.file_type);
  window.set_text(names::file_size, file.size);
  window.set_text(names::file_md5, file.md5);
  window.set_text(names::download_url, file.download_url);
}

}  // namespace

void default_choice_action(window_access& window) { window.set_checked(names::kuaichuan_choice, true); }

void resolve_action(window_access& window, const action_services& services) {
  // Two separate tests, not alternatives: each checked choice resolves.
  if (window.checked(names::kuaichuan_choice))
    show(window, services.resolve_kuaichuan(window.text(names::kuaichuan_address)));
  if (window.checked(names::pan_choice))
    show(window, services.resolve_pan(window.text(names::pan_address)));
}

void copy_action(window_access& window, const action_services& services, int, int, int) {
  const local_text address = window.text(names::download_url);
  if (address.empty()) return;
  services.set_clipboard_text(address);
}

void home_page_action(const action_services& services) { services.open_web_address(home_page_address); }

}  // namespace sharelink::app
