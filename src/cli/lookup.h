#pragma once
// Turning one address, or one saved page, into a resolution with its verdict.
#include <optional>
#include <string>
#include <string_view>

#include "cli/report.h"
#include "cli/service.h"
#include "runtime/fetch.h"

namespace sharelink::cli {

struct lookup_settings {
  std::optional<service> forced_service;  ///< every address is of this service
  fetch_options fetch;
};

/// Why `address` (UTF-8) is not fetched at all, or nothing: it has no scheme, or it
/// holds characters the local code page cannot carry (sending it would change it).
std::optional<std::string> address_refusal(std::string_view address);

/// The verdict on a fetch whose page was read: an HTTP status outside 200-299
/// ("HTTP 404 Not Found"), a page that did not arrive whole (the fetcher's reason and
/// the bytes read), or a page without a download address. Nothing when all is well.
std::optional<std::string> fetch_verdict(const fetch_outcome& outcome, bool has_download_url);

/// Fetches and reads the page behind `address` (UTF-8). Never throws.
resolution resolve_address(const std::string& address, const lookup_settings& settings);

/// Reads a page already at hand; an error only when it holds no download address.
resolution resolve_saved_page(std::string_view page_bytes, service which);

}  // namespace sharelink::cli
