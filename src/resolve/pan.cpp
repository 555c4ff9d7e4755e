#include "resolve/pan.h"
#include "runtime/fetch.h"
// STUB
namespace sharelink {
resolved_file parse_pan_page(std::string_view) { return {{}, {}, {}, "0B", {}}; }
local_text unescape_pan_address(std::string_view a) { return local_text(a); }
resolved_file resolve_pan(std::string_view a) { return parse_pan_page(to_text(fetch_page(a))); }
}
