#pragma once
// Which share service an address belongs to.
#include <optional>
#include <string>
#include <string_view>

#include "rules/services.h"

namespace sharelink::cli {

/// True when `address` begins (after blanks and control bytes) with a scheme name
/// and its colon: "http:", "https:", "ftp:" ... "host:8080/..." begins with a host
/// and port instead, as a browser reads it, and has no scheme.
bool has_scheme(std::string_view address);

/// The name of the service whose rule's `addresses` find `address`
/// (service_registry::for_address), or nothing. Without a registry, the process's.
std::optional<std::string> service_of_address(std::string_view address,
                                              const service_registry& services = process_services());

}  // namespace sharelink::cli
