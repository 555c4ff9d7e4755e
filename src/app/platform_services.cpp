#include "app/actions.h"
#include "app/desktop.h"
#include "resolve/named_services.h"
#include "runtime/fetch.h"

namespace sharelink::app {
namespace {

// Fetches end once `stop` is set: the window has closed and the page is of no use
// to anybody.
fetch_options stopping_at(const std::atomic<bool>& stop) {
  fetch_options options;
  options.cancel = &stop;
  return options;
}

// The page read by the service called `name`: its fields and its files.
resolved_page read_page(std::string_view name, std::string_view address, const std::atomic<bool>& stop) {
  const page_reading reading = read_named_service(name, address, stopping_at(stop));
  resolved_page page(shown_fields(reading.fields));
  page.files.reserve(reading.files.size());
  for (const file_record& f : reading.files) page.files.push_back(shown_fields(f));
  return page;
}

}  // namespace

action_services platform_services() {
  action_services s;
  s.stop_fetches = std::make_shared<std::atomic<bool>>(false);
  // The two buttons read with the services named kuaichuan and pan, so a user's
  // rule file of either name changes what its button reads.
  s.resolve_kuaichuan = [stop = s.stop_fetches](std::string_view a) { return read_page("kuaichuan", a, *stop); };
  s.resolve_pan = [stop = s.stop_fetches](std::string_view a) { return read_page("pan", a, *stop); };
  s.set_clipboard_text = [](std::string_view t) { return sharelink::set_clipboard_text(t); };
  s.open_web_address = [](std::string_view a) { sharelink::open_web_address(a); };
  s.home_page = home_page_address();
  return s;
}

}  // namespace sharelink::app
