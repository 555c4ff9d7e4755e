#include "app/actions.h"
#include "app/desktop.h"
#include "resolve/kuaichuan.h"
#include "resolve/pan.h"
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

}  // namespace

action_services platform_services() {
  action_services s;
  s.stop_fetches = std::make_shared<std::atomic<bool>>(false);
  // The two buttons read with the services named kuaichuan and pan, so a user's
  // rule file of either name changes what its button reads.
  s.resolve_kuaichuan = [stop = s.stop_fetches](std::string_view a) { return resolve_kuaichuan(a, stopping_at(*stop)); };
  s.resolve_pan = [stop = s.stop_fetches](std::string_view a) { return resolve_pan(a, stopping_at(*stop)); };
  s.set_clipboard_text = [](std::string_view t) { return sharelink::set_clipboard_text(t); };
  s.open_web_address = [](std::string_view a) { sharelink::open_web_address(a); };
  s.home_page = home_page_address();
  return s;
}

}  // namespace sharelink::app
