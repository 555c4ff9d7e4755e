#pragma once
// The page fetcher: one HTTP/1.0 GET, the body back as bytes.
#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/text.h"

namespace sharelink {

/// The user agent every request carries.
inline constexpr std::string_view fetch_user_agent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

/// Limits of one fetch. The defaults are what the window and resolvers use.
struct fetch_options {
  /// Give up when no connection is made within this time.
  long connect_timeout_ms = 15000;
  /// Abandon a transfer during which nothing arrives for this long (bytes so far are kept).
  long stall_timeout_ms = 20000;
  /// Stop reading once this many body bytes have arrived, keeping them.
  std::size_t body_cap = 8u * 1024u * 1024u;
};

/// What one fetch gave, and why it failed when it did.
struct fetch_outcome {
  byte_string body;  ///< the body as received (possibly partial), any status
  /// True when a response arrived (any HTTP status). False when the fetch could not
  /// be made (empty address, unsupported scheme, refused connection, time-out, TLS
  /// failure, ...); `error` then holds a one-line reason.
  bool fetched = false;
  std::string error;
};

/// Fetches `address` (local text, http or https only) and tells why it failed.
/// Redirects are followed, cookies are kept for the process, nothing is cached,
/// the fragment is never sent and user info in the address is used.
fetch_outcome fetch_page_reporting(std::string_view address, const fetch_options& options = {});

/// The body behind `address`, or an empty byte string when nothing could be read.
/// Never fails or reports.
byte_string fetch_page(std::string_view address);

}  // namespace sharelink
