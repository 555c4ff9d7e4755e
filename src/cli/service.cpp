#include "cli/service.h"

#include <string>

#include "runtime/fetch.h"

namespace sharelink::cli {

bool has_scheme(std::string_view address) {
  const std::string text = pasted_address(address);
  const std::size_t scheme = scheme_length(text);
  if (scheme == 0) return false;
  // A port: digits up to the path, the query, the fragment or the end.
  const std::string_view rest = std::string_view(text).substr(scheme + 1);
  const auto digits_end = rest.find_first_not_of("0123456789");
  const bool port = !rest.empty() && digits_end != 0 &&
                    (digits_end == std::string_view::npos ||
                     std::string_view("/\\?#").find(rest[digits_end]) != std::string_view::npos);
  return !port;
}

}  // namespace sharelink::cli
