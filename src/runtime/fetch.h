#pragma once
// The page fetcher: one HTTP/1.0 GET, the body back as bytes.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

#include "runtime/error_kind.h"
#include "runtime/text.h"

namespace sharelink {

/// The user agent every request carries.
inline constexpr std::string_view fetch_user_agent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

/// The certificate authorities' file the environment names, as the curl tool reads
/// it: CURL_CA_BUNDLE, else SSL_CERT_FILE; empty when neither is set or both are empty.
std::string ca_file_from_environment();

/// Whether this system's fetcher can be given a CA file (fetch_options::ca_file):
/// WinINet trusts the system's certificate store only.
extern const bool fetcher_takes_ca_file;

/// Limits of one fetch. The defaults are what the window and resolvers use.
struct fetch_options {
  /// Give up when no connection is made within this time.
  long connect_timeout_ms = 15000;
  /// Abandon a transfer during which nothing arrives for this long (bytes so far are kept).
  long stall_timeout_ms = 20000;
  /// Stop reading once the body grows past this many bytes, keeping that many (cut
  /// `capped`; the fetch is not whole). A body of exactly this size is whole.
  std::size_t body_cap = 8u * 1024u * 1024u;
  /// Give up on the whole fetch, redirects included, after this long, keeping the
  /// bytes so far: a body that trickles in for ever must not hold the caller for ever.
  /// 0 or less sets no limit.
  long total_timeout_ms = 60000;
  /// A PEM file of the certificate authorities trusted for https instead of the
  /// system's; empty: the system's store. By default the file the environment names
  /// (see ca_file_from_environment). WinINet trusts the system's store only.
  std::string ca_file = ca_file_from_environment();
  /// The proxy. Unset: taken from the environment (http_proxy, https_proxy, no_proxy,
  /// ALL_PROXY, read as curl reads them) or, on Windows, from the system's
  /// configuration; an empty text means no proxy; otherwise the proxy's address.
  std::optional<std::string> proxy;
  /// When set and it turns true, the fetch ends within about 100 ms with the error
  /// "interrupted" (cut `interrupted`), keeping the bytes so far.
  const std::atomic<bool>* cancel = nullptr;
  /// The User-Agent of every request, to whatever host a redirect leads; empty:
  /// fetch_user_agent. No line breaks.
  std::string user_agent;
  /// More request headers, "Name: value" each, sent as they stand (a service's
  /// rule gives them) to the host of the address asked for only: a redirect to
  /// another host drops them, as curl drops a credential it was given. A User-Agent
  /// among them replaces user_agent on that host. No line breaks: the rule reader
  /// refuses them.
  std::vector<std::string> headers;
  /// Redirects may lead only to the host (name, any port) of the address asked for:
  /// a step of a service's rule goes to the host its template names, and its
  /// server's answer may not send the request elsewhere.
  bool same_host_redirects_only = false;
  /// When set, a page fetch is a POST carrying these bytes (its Content-Type among
  /// `headers`). A 301, 302 or 303 answer to it is followed with a GET, as browsers
  /// do; a 307 or 308, which would send the body again, is refused.
  std::optional<std::string> post_body;
  /// The cookies of the user's cookies file (jar lines, see read_cookie_file), sent
  /// beside those the servers set, but only to hosts of the site `user_cookie_site`
  /// (a registrable domain, see registrable_domain), on every hop: a rule or a page
  /// cannot carry the user's logins elsewhere. Null when no file was given.
  std::shared_ptr<const std::vector<std::string>> user_cookies;
  /// The site the user's cookies may go to; empty: none goes.
  std::string user_cookie_site;
  /// The service's own limits on one host ([limits] of its rule): at most this many
  /// requests at once (0: none of its own), and at least this many milliseconds
  /// between the starts of two. A fetch itself does not look at them: the command's
  /// gate applies them, with its own --max-per-host, to the requests for the shares.
  int service_max_per_host = 0;
  long service_interval_ms = 0;
};

/// Why a fetch that had reached the server ended before its body was whole.
enum class fetch_cut {
  /// Not cut: the body is whole, or the fetch failed before any transfer began or for
  /// a reason of its own (address, name lookup, connection, certificate, redirect
  /// refused, too many redirects, headers too large).
  none,
  stalled,      ///< no response head within stall_timeout_ms of connecting, or a body
                ///< during which nothing arrived for that long
  capped,       ///< the body reached body_cap; the rest was not read
  broken,       ///< the connection ended early or failed (shorter than announced, reset)
  out_of_time,  ///< total_timeout_ms ran out, in any phase
  interrupted,  ///< `cancel` turned true, or a streaming consumer asked to stop
};

/// What one fetch gave, and why it failed when it did.
struct fetch_outcome {
  byte_string body;  ///< the body as received (possibly partial), any status
  /// True only when a response arrived (any HTTP status: a 404 is fetched) and its
  /// whole body was read. False otherwise, `error` then holding a one-line reason
  /// (nothing sent, refused, timed out, cut short, ...); for a cut body it says which
  /// limit ended it and how many bytes had arrived, e.g. "connection closed after 10
  /// of 100 bytes", "timed out: nothing received for 20000 ms after 5 of 100 bytes",
  /// "the page is larger than 8388608 bytes; stopped there".
  bool fetched = false;
  std::string error;
  /// What kind of failure `error` tells; set with it (address, network, timeout,
  /// tls, http for a redirect refused, page for a body past the cap, interrupted).
  std::optional<error_kind> kind;
  /// Status code of the last response whose head arrived whole (after redirects,
  /// or the redirect that was refused); 0 when none did.
  long status = 0;
  /// The reason phrase the server sent with `status` ("Not Found"), possibly empty.
  std::string status_text;
  /// Why the transfer ended early, when it did.
  fetch_cut cut = fetch_cut::none;
  /// The Retry-After value of that response as sent (see retry_after_delay); empty
  /// when absent.
  std::string retry_after;
  /// The Content-Type value of that response as sent ("text/html; charset=gbk");
  /// empty when absent.
  std::string content_type;
  /// The address of the last request made, after the redirects followed (as put on
  /// the wire); empty when none was made.
  std::string final_address;
  bool operator==(const fetch_outcome&) const = default;
};

/// The kind of failure `outcome` tells: its kind when it was not fetched (network when
/// it names none), `http` for an answer outside 200-299; nothing when all is well
/// (status 0, no answer at all, is no failure of a fetched outcome: a saved page's).
std::optional<error_kind> failure_kind_of(const fetch_outcome& outcome);

/// The head of the response whose body a streaming fetch delivers.
struct response_head {
  long status = 0;
  std::string status_text;
  std::int64_t content_length = -1;  ///< -1 when not announced
  /// From "Content-Range: bytes FIRST-LAST/TOTAL" of a 206; -1 when absent or "*".
  std::int64_t range_first = -1;
  std::int64_t range_last = -1;
  std::int64_t range_total = -1;
  /// The ETag and Last-Modified values as sent; empty when absent.
  std::string etag;
  std::string last_modified;
  /// The Retry-After value as sent (see retry_after_delay); empty when absent.
  std::string retry_after;
};

/// What a streaming fetch asks for beyond a plain page fetch.
struct fetch_request {
  /// Sent as the Referer header when not empty (local text, prepared like an address).
  std::string referer;
  /// When 0 or more: "Range: bytes=N-" is sent.
  std::int64_t range_from = -1;
  /// With a range: sent as "If-Range", so that a file that changed comes whole (200)
  /// instead of the range. Printable ASCII only; anything else fails the fetch.
  std::string if_range;
  /// When set, the request is a POST carrying these bytes (its Content-Type among
  /// the options' headers); a redirect is then an error, not followed.
  std::optional<std::string> post_body = std::nullopt;
};

/// True when `value` can go out as a header's value as it is: printable ASCII and
/// spaces, nothing that could end the line.
inline bool is_header_value(std::string_view value) {
  for (const char c : value)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

/// True when `text` holds a byte below 0x20 or 0x7F: a line break or another control
/// character, which no line of a request, a jar or a list may carry.
inline bool has_control_character(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

/// Called once, when the head of the final response (after redirects) is in; false
/// stops the fetch (cut `interrupted`).
using head_handler = std::function<bool(const response_head&)>;
/// Called with each piece of the body as it arrives; false stops the fetch (cut
/// `interrupted`).
using body_handler = std::function<bool(std::string_view bytes)>;

/// Fetches `address` (local text, http or https only) and tells why it failed.
/// Redirects are followed, cookies are kept for the process (process_cookie_jar)
/// and the user's sent as `options` says, nothing is cached,
/// the fragment is never sent and user info in the address is used.
fetch_outcome fetch_page_reporting(std::string_view address, const fetch_options& options = {});

/// Like fetch_page_reporting, but hands the body to `on_body` as it arrives instead
/// of keeping it (the outcome's body stays empty and body_cap does not apply) and
/// can ask for a range. For downloads of any size.
fetch_outcome fetch_streaming(std::string_view address, const fetch_options& options,
                              const fetch_request& request, const head_handler& on_head,
                              const body_handler& on_body);

/// The body behind `address`, or an empty byte string when nothing could be read.
/// Never fails or reports.
byte_string fetch_page(std::string_view address);

/// The Cookie header value a fetch of `address` (local text, prepared as a fetch
/// prepares it) with `options` would send: the cookies the process received and the
/// user's that `options` lets go there, "NAME=VALUE" pairs joined by "; ", HttpOnly
/// cookies included. Empty when none would go, or the address cannot be fetched. For
/// handing a fetch's session on to another program.
std::string cookie_header_for(std::string_view address, const fetch_options& options = {});

/// An address as it is put on the wire, or why it cannot be.
struct fetch_address {
  /// "http://" or "https://", any user info, host and port, then the path and query;
  /// printable ASCII only. Empty when `error` is set.
  std::string url;
  bool secure = false;  ///< true for https
  std::string error;    ///< one-line reason the address cannot be fetched
};

/// An address as a user pastes it, read as a browser's address bar reads it: the
/// text up to a zero byte, without its tabs and line breaks, and without spaces and
/// control bytes at either end.
std::string pasted_address(std::string_view address);

/// The length of the scheme `text` begins with (a letter, then letters, digits, "+",
/// "-" and "."), the ':' after it not counted; 0 when it begins with none.
std::size_t scheme_length(std::string_view text);

/// Makes an address, as a user pastes it (local text), ready to send, the way a
/// browser's address bar does: it is read as pasted_address reads it; the scheme must be http
/// or https (any case) and is written in lower case; any number of '/' or '\' may
/// follow it; the fragment is cut off; '\' in the path becomes '/'. Spaces, control
/// bytes, bytes >= 0x80 and the characters " < > (and ` { } in the path, @ in the user
/// info) are percent-encoded byte for byte, so a character beyond ASCII goes as the
/// escapes of its UTF-8 bytes, as browsers send it. A host name beyond ASCII goes in
/// its ASCII form (host_to_ascii); one that has none, or a host with a space or a
/// control byte, is refused.
fetch_address prepare_fetch_address(std::string_view address);

/// Where a redirect from `from` (a prepared address) to the Location value `location`
/// leads: an absolute, scheme-relative ("//host/..."), path-absolute or relative
/// reference, prepared as above. Refused with an error when it leads to a scheme other
/// than http or https, or from https down to http.
fetch_address follow_redirect(const fetch_address& from, std::string_view location);

}  // namespace sharelink
