#include "app/actions.h"
#include "app/desktop.h"
#include "resolve/kuaichuan.h"
#include "resolve/pan.h"

namespace sharelink::app {

action_services platform_services() {
  action_services s;
  s.resolve_kuaichuan = [](std::string_view a) { return sharelink::resolve_kuaichuan(a); };
  s.resolve_pan = [](std::string_view a) { return sharelink::resolve_pan(a); };
  s.set_clipboard_text = [](std::string_view t) { return sharelink::set_clipboard_text(t); };
  s.open_web_address = [](std::string_view a) { sharelink::open_web_address(a); };
  return s;
}

}  // namespace sharelink::app
