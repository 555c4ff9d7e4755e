#pragma once
// Whether an address names its scheme.
#include <string_view>

namespace sharelink::cli {

/// True when `address`, read as pasted_address reads it, begins with a scheme name
/// and its colon: "http:", "https:", "ftp:" ... "host:8080/..." begins with a host
/// and port instead, as a browser reads it, and has no scheme.
bool has_scheme(std::string_view address);

}  // namespace sharelink::cli
