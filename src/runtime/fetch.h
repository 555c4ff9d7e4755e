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
  /// Give up on the whole fetch, redirects included, after this long, keeping the
  /// bytes so far: a body that trickles in for ever must not hold the caller for ever.
  /// 0 or less sets no limit.
  long total_timeout_ms = 60000;
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

/// An address as it is put on the wire, or why it cannot be.
struct fetch_address {
  /// "http://" or "https://", any user info, host and port, then the path and query;
  /// printable ASCII only. Empty when `error` is set.
  std::string url;
  bool secure = false;  ///< true for https
  std::string error;    ///< one-line reason the address cannot be fetched
};

/// Makes an address, as a user pastes it (local text), ready to send, the way a
/// browser's address bar does: the text ends at a zero byte; tabs and line breaks are
/// dropped and spaces and control bytes at either end trimmed; the scheme must be http
/// or https (any case) and is written in lower case; any number of '/' or '\' may
/// follow it; the fragment is cut off; '\' in the path becomes '/'. Spaces, control
/// bytes, bytes >= 0x80 and the characters " < > (and ` { } in the path, @ in the user
/// info) are percent-encoded byte for byte, a double-byte character (lead byte
/// 0x81-0xFE) as a whole, so its trail byte is never read as a delimiter. A host with
/// anything but printable ASCII is refused.
fetch_address prepare_fetch_address(std::string_view address);

/// Where a redirect from `from` (a prepared address) to the Location value `location`
/// leads: an absolute, scheme-relative ("//host/..."), path-absolute or relative
/// reference, prepared as above. Refused with an error when it leads to a scheme other
/// than http or https, or from https down to http.
fetch_address follow_redirect(const fetch_address& from, std::string_view location);

}  // namespace sharelink
