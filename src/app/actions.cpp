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

// The boxes, then the list: the row of the file the boxes show is selected.
void show_page(window_access& window, resolved_page page) {
  show(window, page.fields);
  if (page.files.size() < 2) {
    window.show_files({}, -1);
    return;
  }
  // The boxes show the page's last file, which is not in the list when the page
  // lists more than the reader keeps: then no row is selected.
  std::ptrdiff_t chosen = -1;
  for (std::size_t i = page.files.size(); i-- > 0 && chosen < 0;)
    if (page.files[i] == page.fields) chosen = static_cast<std::ptrdiff_t>(i);
  window.show_files(std::move(page.files), chosen);
}

local_text address_of(const window_access& window, std::string_view box) {
  return window.text_is_local(box) ? window.text(box) : local_text();
}

}  // namespace

void default_choice_action(window_access& window) { window.set_checked(names::kuaichuan_choice, true); }

void resolve_action(window_access& window, const action_services& services) {
  // Two separate tests, not alternatives: each checked choice resolves.
  if (window.checked(names::kuaichuan_choice))
    show_page(window, services.resolve_kuaichuan(address_of(window, names::kuaichuan_address)));
  if (window.checked(names::pan_choice))
    show_page(window, services.resolve_pan(address_of(window, names::pan_address)));
}

std::vector<resolve_request> read_resolve_requests(const window_access& window) {
  std::vector<resolve_request> requests;
  if (window.checked(names::kuaichuan_choice))
    requests.push_back({false, address_of(window, names::kuaichuan_address)});
  if (window.checked(names::pan_choice))
    requests.push_back({true, address_of(window, names::pan_address)});
  return requests;
}

std::vector<resolved_page> run_resolve_requests(const std::vector<resolve_request>& requests,
                                                const action_services& services) {
  std::vector<resolved_page> results;
  for (const resolve_request& r : requests)
    results.push_back(r.pan ? services.resolve_pan(r.address) : services.resolve_kuaichuan(r.address));
  return results;
}

void show_resolved(window_access& window, std::vector<resolved_page> results) {
  for (resolved_page& page : results) show_page(window, std::move(page));
}

void choose_file_action(window_access& window, const resolved_file& file) { show(window, file); }

void copy_action(window_access& window, const action_services& services, int, int, int) {
  const local_text address = window.text(names::download_url);
  if (address.empty()) return;
  services.set_clipboard_text(address);
}

void home_page_action(const action_services& services) {
  if (!services.home_page.empty()) services.open_web_address(services.home_page);
}

}  // namespace sharelink::app
