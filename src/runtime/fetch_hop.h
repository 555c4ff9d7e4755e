#pragma once
// Between the fetch (fetch.cpp) and a platform's HTTP library (fetch_curl.cpp,
// fetch_wininet.cpp). The platform opens one hop, one request and its response,
// hands over the response's head and reads its body while it is wanted, waiting only
// as long as the fetch's clock allows. Everything else is decided once, in fetch.cpp:
// redirects, the body cap, what the head's fields mean and the texts of errors.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/fetch.h"

namespace sharelink::fetch_hop {

/// Why a hop ended. `none`: the body ended where the server ended it (whether it is
/// whole is for the fetch to judge).
enum class ending {
  none,
  stopped,          ///< the sink asked to stop (a redirect to follow, or a consumer)
  cancelled,        ///< fetch_options::cancel turned true
  out_of_time,      ///< fetch_options::total_timeout_ms ran out
  connect_timeout,  ///< no connection within connect_timeout_ms
  stalled,          ///< no head within stall_timeout_ms of connecting, or a quiet body
  refused,          ///< the server refused the connection
  proxy_refused,    ///< the proxy refused the connection or could not be reached
  cannot_connect,
  host_not_found,
  proxy_not_found,
  proxy_failed,  ///< the proxy answered, but not with a way through
  certificate,   ///< the server's certificate was not accepted
  handshake,     ///< TLS failed otherwise
  ca_file,       ///< the certificate authorities could not be read
  closed,        ///< the connection closed before the announced end of the body
  no_answer,     ///< the connection closed before any answer
  receive_failed,
  send_failed,
  malformed,  ///< the library took the address for malformed
  not_http,   ///< the answer is not HTTP
  headers_too_large,
  client_failed,  ///< the library failed in itself
  other,
};

/// How a hop ended: why, and the library's words for it (one line or empty).
struct hop_end {
  ending why = ending::none;
  std::string detail;
};

/// The head of one response as the library gives it, each value as sent.
struct raw_head {
  long status = 0;
  std::string status_text;
  std::string location;  ///< the first Location value
  std::string content_length;
  std::string content_range;
  std::string etag;
  std::string last_modified;
  std::string retry_after;
  std::string content_type;
  std::vector<std::string> set_cookies;  ///< every Set-Cookie value, in order
};

/// Reads an "HTTP/x.y NNN reason" line into `head`, clearing the rest of it. False
/// when `line` is not a status line.
bool read_status_line(std::string_view line, raw_head& head);
/// Reads a "Name: value" line into the field of `head` it names, if any.
void read_header_line(std::string_view line, raw_head& head);

/// A whole decimal number of at most 18 digits, or -1.
std::int64_t parse_count(std::string_view text);

/// The host of the prepared address `url`: lower case, without user info and port.
std::string host_of(std::string_view url);
/// Whether `host` (lower case) is `domain` or a name below it; case and a leading dot
/// of `domain` are ignored, and an empty `domain` holds nothing.
bool host_in_domain(std::string_view host, std::string_view domain);

/// The limits in time of one fetch, over all of its hops: the connection within
/// connect_timeout_ms of the hop's start, the head within stall_timeout_ms of the
/// connection, then never stall_timeout_ms without bytes, the whole fetch within
/// total_timeout_ms, and an end soon after `cancel` turns true. Used by one thread.
class fetch_clock {
 public:
  using clock = std::chrono::steady_clock;
  explicit fetch_clock(const fetch_options& options);

  /// A hop starts: connecting.
  void hop_starts();
  /// The request goes out on a connection made at `at`: the head is due.
  void connected(clock::time_point at = clock::now());
  bool is_connected() const { return phase_ != phase::connecting; }
  /// The head is in, or bytes of the body arrived: quiet counts from now.
  void arrived();
  /// What has run out by now, or `ending::none`.
  ending expired() const;
  /// How long a wait may last before expired() is to be asked again.
  std::chrono::milliseconds next_wait() const;

 private:
  enum class phase { connecting, waiting_for_head, reading_body };
  /// The limit of the present phase and where it counts from; no limit: nullopt.
  clock::time_point phase_deadline(bool& limited) const;

  const fetch_options& options_;
  const clock::time_point started_;
  phase phase_ = phase::connecting;
  clock::time_point since_;
};

/// What the fetch makes of a hop: the platform hands it the head and the body.
class hop_sink {
 public:
  virtual ~hop_sink() = default;
  /// The head of the hop's response (an interim 1xx is not one). False: read no body,
  /// end the hop (ending `stopped`).
  virtual bool take_head(raw_head head) = 0;
  /// Bytes of the body, as they arrive. False: end the hop (ending `stopped`).
  virtual bool take_body(std::string_view bytes) = 0;
  /// How many more body bytes are wanted: what is left of the announced length, or
  /// -1 when none was announced. Bytes past the announced length are never read.
  virtual std::int64_t bytes_left() const = 0;
};

/// What a request carries besides the fixed headers, ready to go on the wire.
struct hop_request {
  std::string referer;   ///< a prepared address, or empty
  std::string range;     ///< "FIRST-", or empty
  std::string if_range;  ///< with a range, or empty
  std::optional<std::string> post_body;  ///< a POST's body; a GET without
};

/// The platform's side of one fetch: its hops, one after the other.
class hop_client {
 public:
  virtual ~hop_client() = default;
  /// Sends the request for `target` (a prepared address), with `cookie` as its Cookie
  /// header when not empty, hands the head to `sink` and the body while `sink` wants
  /// it, and says how the hop ended. The platform's library keeps no cookies.
  virtual hop_end run_hop(const fetch_address& target, std::string_view cookie, fetch_clock& clock,
                          hop_sink& sink) = 0;
};

/// The platform's client for one fetch with `options` and `request`; null when it
/// cannot be set up, `error` then saying why.
std::unique_ptr<hop_client> open_client(const fetch_options& options,
                                        const hop_request& request, std::string& error);

}  // namespace sharelink::fetch_hop
