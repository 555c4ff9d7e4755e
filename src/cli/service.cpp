#include "cli/service.h"

#include <algorithm>
#include <string>

namespace sharelink::cli {

std::string_view service_name(service s) {
  return s == service::kuaichuan ? "kuaichuan" : "pan";
}

std::optional<service> service_named(std::string_view name) {
  if (name == "kuaichuan") return service::kuaichuan;
  if (name == "pan") return service::pan;
  return std::nullopt;
}

namespace {

std::string_view without_leading_blanks(std::string_view address) {
  const auto start = std::find_if(address.begin(), address.end(),
                                  [](char c) { return static_cast<unsigned char>(c) > 0x20; });
  address.remove_prefix(static_cast<std::size_t>(start - address.begin()));
  return address;
}

bool is_scheme_name(std::string_view name) {
  if (name.empty() || !((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z')))
    return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool has_scheme(std::string_view address) {
  address = without_leading_blanks(address);
  const auto colon = address.find(':');
  if (colon == std::string_view::npos || !is_scheme_name(address.substr(0, colon))) return false;
  // A port: digits up to the path, the query, the fragment or the end.
  const std::string_view rest = address.substr(colon + 1);
  const auto digits_end = rest.find_first_not_of("0123456789");
  const bool port = !rest.empty() && digits_end != 0 &&
                    (digits_end == std::string_view::npos ||
                     std::string_view("/\\?#").find(rest[digits_end]) != std::string_view::npos);
  return !port;
}

std::optional<service> service_of_address(std::string_view address) {
  // Read the way the fetcher reads a pasted address: blanks and control bytes in
  // front are dropped, any run of slashes or backslashes may follow the scheme's
  // colon, and a backslash in the path stands for a slash.
  const auto start = std::find_if(address.begin(), address.end(),
                                  [](char c) { return static_cast<unsigned char>(c) > 0x20; });
  address.remove_prefix(static_cast<std::size_t>(start - address.begin()));
  const auto colon = address.find(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  for (char c : address.substr(0, colon)) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '-' || c == '.';
    if (!ok) return std::nullopt;
  }
  std::string_view rest = address.substr(colon + 1);
  rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of("/\\")));
  const auto path_start = rest.find_first_of("/\\?#");
  if (path_start == std::string_view::npos || rest[path_start] == '?' || rest[path_start] == '#')
    return std::nullopt;
  std::string path(rest.substr(path_start, rest.find_first_of("?#", path_start) - path_start));
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.starts_with("/d/")) return service::kuaichuan;
  if (path.starts_with("/share/")) return service::pan;
  return std::nullopt;
}

}  // namespace sharelink::cli
