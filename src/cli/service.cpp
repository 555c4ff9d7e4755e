#include "cli/service.h"

#include <algorithm>
#include <string>

namespace sharelink::cli {

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

std::optional<std::string> service_of_address(std::string_view address, const service_registry& services) {
  const service_entry* found = services.for_address(address);
  if (found == nullptr) return std::nullopt;
  return found->rule.name;
}

}  // namespace sharelink::cli
