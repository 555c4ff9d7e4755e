#include "runtime/fetch.h"
// STUB: to be written.
namespace sharelink {
fetch_outcome fetch_page_reporting(std::string_view, const fetch_options&) { return {{}, false, "not implemented"}; }
}  // namespace sharelink
