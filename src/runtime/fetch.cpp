#include "runtime/fetch.h"

namespace sharelink {

byte_string fetch_page(std::string_view address) { return fetch_page_reporting(address).body; }

}  // namespace sharelink
