#include "cli/service.h"

namespace sharelink::cli {

std::string_view service_name(service s) {
  return s == service::kuaichuan ? "kuaichuan" : "pan";
}

std::optional<service> service_named(std::string_view name) {
  if (name == "kuaichuan") return service::kuaichuan;
  if (name == "pan") return service::pan;
  return std::nullopt;
}

std::optional<service> service_of_address(std::string_view address) {
  const auto scheme_end = address.find("://");
  if (scheme_end == std::string_view::npos || scheme_end == 0) return std::nullopt;
  // The scheme is letters, digits, '+', '-' and '.'; anything else means the
  // "://" belongs to a later part and the text has no scheme.
  for (char c : address.substr(0, scheme_end)) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '-' || c == '.';
    if (!ok) return std::nullopt;
  }
  const std::string_view rest = address.substr(scheme_end + 3);
  const auto path_start = rest.find_first_of("/?#");
  if (path_start == std::string_view::npos || rest[path_start] != '/') return std::nullopt;
  std::string_view path = rest.substr(path_start);
  path = path.substr(0, path.find_first_of("?#"));
  if (path.starts_with("/d/")) return service::kuaichuan;
  if (path.starts_with("/share/")) return service::pan;
  return std::nullopt;
}

}  // namespace sharelink::cli
