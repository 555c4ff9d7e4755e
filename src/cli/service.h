#pragma once
// Which share service an address belongs to.
#include <optional>
#include <string_view>

namespace sharelink::cli {

enum class service { kuaichuan, pan };

/// The service's name on the command line and in JSON: "kuaichuan" or "pan".
std::string_view service_name(service s);

/// The service called `name` ("kuaichuan" or "pan", exact), or nothing.
std::optional<service> service_named(std::string_view name);

/// True when `address` begins (after blanks and control bytes) with a scheme name
/// and its colon: "http:", "https:", "ftp:" ... "host:8080/..." begins with a host
/// and port instead, as a browser reads it, and has no scheme.
bool has_scheme(std::string_view address);

/// The service told from the path of `address` (scheme://authority/path...): a path
/// that begins with "/d/" is Kuaichuan, one that begins with "/share/" is Pan.
/// Nothing for any other path and for an address without a scheme. Leading blanks,
/// a missing or doubled slash after the scheme and backslashes for slashes are
/// taken as a browser takes them.
std::optional<service> service_of_address(std::string_view address);

}  // namespace sharelink::cli
