#include "resolve/kuaichuan.h"
#include "runtime/fetch.h"
// STUB
namespace sharelink {
resolved_file parse_kuaichuan_page(std::string_view) { return {{}, {}, {}, "0B", {}}; }
resolved_file resolve_kuaichuan(std::string_view a) { return parse_kuaichuan_page(to_text(fetch_page(a))); }
}
