#include "app/actions.h"
#include "app/desktop.h"
#include "resolve/page_reading.h"
#include "runtime/fetch.h"

namespace sharelink::app {
namespace {

// The share page, or nothing once `stop` is set: the window has closed and the
// fetch is of no use to anybody.
local_text fetch_share_page(std::string_view address, const std::atomic<bool>& stop) {
  fetch_options options;
  options.cancel = &stop;
  return to_text(fetch_page_reporting(address, options).body);
}

}  // namespace

action_services platform_services() {
  action_services s;
  s.stop_fetches = std::make_shared<std::atomic<bool>>(false);
  s.resolve_kuaichuan = [stop = s.stop_fetches](std::string_view a) {
    return read_kuaichuan_page(fetch_share_page(a, *stop)).fields;
  };
  s.resolve_pan = [stop = s.stop_fetches](std::string_view a) {
    return read_pan_page(fetch_share_page(a, *stop)).fields;
  };
  s.set_clipboard_text = [](std::string_view t) { return sharelink::set_clipboard_text(t); };
  s.open_web_address = [](std::string_view a) { sharelink::open_web_address(a); };
  s.home_page = home_page_address();
  return s;
}

}  // namespace sharelink::app
