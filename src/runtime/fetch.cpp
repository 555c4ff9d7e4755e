// The fetch itself, the same on every platform: the redirects, the limits in time,
// the body cap, the reading of a response's head and the texts of errors. The
// platform's file (fetch_curl.cpp, fetch_wininet.cpp) only runs single hops.
#include "runtime/fetch.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <new>
#include <optional>
#include <string>

#include "codec/ascii_case.h"
#include "runtime/fetch_cookies.h"
#include "runtime/fetch_hop.h"

namespace sharelink {
namespace fetch_hop {
namespace {

constexpr int max_redirects = 20;
/// How often a waiting fetch looks at `cancel`; without one, how long a wait may be.
constexpr std::chrono::milliseconds cancel_poll{50};
constexpr std::chrono::milliseconds idle_poll{1000};

/// A header's value or part of one, without blanks and line breaks at its ends.
std::string_view trimmed(std::string_view s) { return trim(s, " \t\r\n"); }

/// Fills the range fields of `head` from a "bytes FIRST-LAST/TOTAL" value; "*" for
/// either part leaves its fields at -1 (a 416 names only the total: "bytes */TOTAL").
void parse_content_range(std::string_view value, response_head& head) {
  value = trimmed(value);
  if (!starts_with_ignoring_case(value, "bytes ")) return;
  value = trimmed(value.substr(6));
  const std::size_t slash = value.find('/');
  if (slash == std::string_view::npos) return;
  const std::string_view span = trimmed(value.substr(0, slash));
  head.range_total = parse_count(trimmed(value.substr(slash + 1)));
  const std::size_t dash = span.find('-');
  if (dash == std::string_view::npos) return;
  const std::int64_t first = parse_count(trimmed(span.substr(0, dash)));
  const std::int64_t last = parse_count(trimmed(span.substr(dash + 1)));
  if (first >= 0 && last >= first) {
    head.range_first = first;
    head.range_last = last;
  }
}

bool is_followed_status(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

/// A library's words on one line: line breaks become spaces, trailing blanks go.
std::string one_line_detail(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

/// The fetch's side of one hop: what the head says, and the body handed on.
class fetch_sink final : public hop_sink {
 public:
  fetch_sink(std::string_view url, const head_handler& on_head, const body_handler& on_body)
      : url_(url), on_head_(on_head), on_body_(on_body) {}

  bool take_head(raw_head raw) override {
    head_in_ = true;
    head_ = std::move(raw);
    // Kept before a redirect is followed: its next hop may need them.
    for (const std::string& set_cookie : head_.set_cookies)
      process_cookie_jar().receive(set_cookie, url_, std::time(nullptr));
    if (is_followed_status(head_.status) && !head_.location.empty()) {
      follow_ = true;
      return false;  // its body is of no use: follow
    }
    const std::int64_t length = parse_count(trimmed(head_.content_length));
    announced_ = length;
    if (on_head_ && !on_head_(response_head_of(head_, length))) {
      stopped_ = true;
      return false;
    }
    return true;
  }
  bool take_body(std::string_view bytes) override {
    if (on_body_ && !on_body_(bytes)) {
      stopped_ = true;
      return false;
    }
    delivered_ += static_cast<std::int64_t>(bytes.size());
    return true;
  }
  std::int64_t bytes_left() const override {
    return announced_ < 0 ? -1 : std::max<std::int64_t>(announced_ - delivered_, 0);
  }

  bool head_in() const { return head_in_; }
  bool follows() const { return follow_; }
  bool stopped() const { return stopped_; }
  const raw_head& head() const { return head_; }
  /// " after N bytes" or " after N of M bytes", once the head is in.
  std::string bytes_so_far() const {
    std::string text = " after " + std::to_string(delivered_);
    if (announced_ >= 0) text += " of " + std::to_string(announced_);
    return text + " bytes";
  }
  bool short_of_announced() const { return announced_ >= 0 && delivered_ < announced_; }

 private:
  static response_head response_head_of(const raw_head& raw, std::int64_t length) {
    response_head head;
    head.status = raw.status;
    head.status_text = raw.status_text;
    head.content_length = length;
    parse_content_range(raw.content_range, head);
    head.etag = raw.etag;
    head.last_modified = raw.last_modified;
    head.retry_after = raw.retry_after;
    return head;
  }

  std::string_view url_;
  const head_handler& on_head_;
  const body_handler& on_body_;
  raw_head head_;
  bool head_in_ = false, follow_ = false, stopped_ = false;
  std::int64_t announced_ = -1;
  std::int64_t delivered_ = 0;
};

/// Sets the outcome's error, its kind and its cut.
void fail(fetch_outcome& outcome, error_kind kind, std::string error, fetch_cut cut = fetch_cut::none) {
  outcome.fetched = false;
  outcome.error = std::move(error);
  outcome.kind = kind;
  outcome.cut = cut;
}

/// The words and kind of a hop's end that says all there is to say by itself.
struct end_reason {
  const char* words;
  error_kind kind;
};
end_reason reason_of(ending why) {
  switch (why) {
    case ending::refused: return {"connection refused", error_kind::network};
    case ending::proxy_refused: return {"cannot connect through the proxy", error_kind::network};
    case ending::cannot_connect: return {"cannot connect", error_kind::network};
    case ending::host_not_found: return {"host not found", error_kind::network};
    case ending::proxy_not_found: return {"proxy not found", error_kind::network};
    case ending::proxy_failed: return {"the proxy failed", error_kind::network};
    case ending::certificate: return {"TLS certificate not accepted", error_kind::tls};
    case ending::handshake: return {"TLS handshake failed", error_kind::tls};
    case ending::ca_file: return {"cannot read the certificate authorities", error_kind::tls};
    case ending::send_failed: return {"send failed", error_kind::network};
    case ending::malformed: return {"malformed address", error_kind::address};
    case ending::not_http: return {"the answer is not HTTP", error_kind::network};
    case ending::headers_too_large: return {"response headers too large", error_kind::network};
    default: return {"the HTTP client failed", error_kind::network};
  }
}

/// The outcome's error, kind and cut for a hop that ended as `end` said.
void describe_end(const hop_end& end, const fetch_sink& sink, const fetch_options& options,
                  fetch_outcome& outcome) {
  const std::string detail = one_line_detail(end.detail);
  auto broken = [&](std::string text) { fail(outcome, error_kind::network, std::move(text), fetch_cut::broken); };
  switch (end.why) {
    case ending::none:
      if (sink.short_of_announced()) return broken("connection closed" + sink.bytes_so_far());
      outcome.fetched = true;
      return;
    case ending::stopped:
    case ending::cancelled:
      return fail(outcome, error_kind::interrupted, "interrupted", fetch_cut::interrupted);
    case ending::out_of_time: {
      std::string error = "timed out: the fetch took longer than " + std::to_string(options.total_timeout_ms) + " ms";
      if (sink.head_in()) error += ", stopped" + sink.bytes_so_far();
      return fail(outcome, error_kind::timeout, std::move(error), fetch_cut::out_of_time);
    }
    case ending::stalled:
      return fail(outcome, error_kind::timeout,
                  sink.head_in() ? "timed out: nothing received for " + std::to_string(options.stall_timeout_ms) +
                                       " ms" + sink.bytes_so_far()
                                 : "timed out: no response within " + std::to_string(options.stall_timeout_ms) + " ms",
                  fetch_cut::stalled);
    case ending::connect_timeout:
      return fail(outcome, error_kind::timeout,
                  options.connect_timeout_ms > 0
                      ? "timed out connecting after " + std::to_string(options.connect_timeout_ms) + " ms"
                      : "timed out connecting");
    case ending::closed:
      return broken("connection closed" + sink.bytes_so_far());
    case ending::no_answer:
      return broken("the server closed the connection without answering");
    case ending::receive_failed:
      if (sink.head_in()) return broken("connection broken" + sink.bytes_so_far() + ": " + detail);
      return broken("receive failed: " + detail);
    case ending::other:
      if (sink.head_in()) return broken("connection broken" + sink.bytes_so_far() + ": " + detail);
      return fail(outcome, error_kind::network, detail);
    default:
      break;
  }
  const end_reason reason = reason_of(end.why);
  std::string error = reason.words;
  // A refusal says all there is to say; the library's words would only repeat it.
  if (!detail.empty() && end.why != ending::refused && end.why != ending::headers_too_large)
    error += ": " + detail;
  fail(outcome, reason.kind, std::move(error));
}

/// What the request carries besides the fixed headers; false with `error` set when it
/// cannot go out.
bool prepare_request(const fetch_request& request, hop_request& out, std::string& error) {
  // A referer that could not be fetched itself is left out.
  if (!request.referer.empty()) out.referer = prepare_fetch_address(request.referer).url;
  out.post_body = request.post_body;
  if (request.range_from < 0) return true;
  out.range = std::to_string(request.range_from) + "-";
  if (!request.if_range.empty()) {
    if (!is_header_value(request.if_range)) {
      error = "If-Range: not a header value";
      return false;
    }
    out.if_range = request.if_range;
  }
  return true;
}

/// The options a client is opened with. The platform sends `headers` as they stand,
/// the user agent among them unless they have a User-Agent of their own. Past a
/// redirect to another host than the one asked for, the client is opened again with
/// the user agent alone.
fetch_options sent_options(const fetch_options& options, bool to_the_host_asked_for) {
  fetch_options sent = options;
  if (!to_the_host_asked_for) sent.headers.clear();
  const bool own_agent = std::any_of(sent.headers.begin(), sent.headers.end(), [](const std::string& header) {
    return starts_with_ignoring_case(header, "user-agent:");
  });
  if (!options.user_agent.empty() && !own_agent) sent.headers.push_back("User-Agent: " + options.user_agent);
  return sent;
}

/// One fetch, redirects followed, the final response's head and body handed to the
/// handlers as they arrive. The outcome's body stays empty.
fetch_outcome run_fetch(std::string_view address, const fetch_options& options,
                        const fetch_request& request, const head_handler& on_head,
                        const body_handler& on_body) {
  fetch_outcome outcome;
  fetch_address target = prepare_fetch_address(address);
  hop_request extra;
  // What cannot go out as asked is refused before anything is sent.
  const auto refuse = [&outcome](std::string error) {
    fail(outcome, error_kind::address, std::move(error));
    return outcome;
  };
  if (!target.error.empty()) return refuse(target.error);
  if (std::string error; !prepare_request(request, extra, error)) return refuse(std::move(error));
  // A page's POST may be followed to a GET; a streaming request's body never is.
  const bool body_may_turn_get = !extra.post_body && options.post_body;
  if (!extra.post_body) extra.post_body = options.post_body;
  // A line break in a header would start a header, or a request, of its own.
  for (const std::string& header : options.headers)
    if (has_control_character(header)) return refuse("a request header holds a control character");
  if (has_control_character(options.user_agent)) return refuse("the user agent holds a control character");
  const fetch_options first_options = sent_options(options, true);
  std::optional<fetch_options> elsewhere_options;  // kept while a client uses them
  const std::string host_asked_for = host_of(target.url);
  // A client that cannot be set up (or a proxy it cannot speak to) gives no answer.
  const auto open = [&](const fetch_options& with) {
    std::string error;
    std::unique_ptr<hop_client> opened = open_client(with, extra, error);
    if (!opened) fail(outcome, error_kind::network, std::move(error));
    return opened;
  };
  std::unique_ptr<hop_client> client = open(first_options);
  if (!client) return outcome;

  fetch_clock clock(options);
  for (int redirects = 0;; ++redirects) {
    fetch_sink sink(target.url, on_head, on_body);
    const std::string cookie = process_cookie_jar().header_for(target.url, options.user_cookies.get(),
                                                               options.user_cookie_site, std::time(nullptr));
    clock.hop_starts();
    hop_end end = client->run_hop(target, cookie, clock, sink);
    outcome.final_address = target.url;
    if (sink.head_in()) {
      outcome.status = sink.head().status;
      outcome.retry_after = sink.head().retry_after;
      outcome.content_type = sink.head().content_type;
      outcome.status_text = sink.head().status_text;
    }
    if (sink.follows()) {
      // A redirect not followed is the answer's doing.
      const auto refuse_redirect = [&outcome](std::string error) {
        fail(outcome, error_kind::http, std::move(error));
        return outcome;
      };
      const long status = sink.head().status;
      const bool to_get = body_may_turn_get && (status == 301 || status == 302 || status == 303);
      if (extra.post_body && !to_get)
        return refuse_redirect("redirect refused: a request with a body is not sent on");
      if (redirects == max_redirects) return refuse_redirect("too many redirects");
      fetch_address next = follow_redirect(target, sink.head().location);
      if (next.error.empty() && options.same_host_redirects_only && host_of(next.url) != host_of(target.url))
        next.error = "redirect refused: it leaves " + host_of(target.url) + " for another host";
      if (!next.error.empty()) return refuse_redirect(std::move(next.error));
      const bool leaves_host = !options.headers.empty() && !elsewhere_options && host_of(next.url) != host_asked_for;
      if (leaves_host || extra.post_body) {
        // The client is opened again: with the user agent alone past the host, and
        // as a GET after a POST's redirect.
        extra.post_body.reset();
        client.reset();
        if (leaves_host) elsewhere_options = sent_options(options, false);
        client = open(elsewhere_options ? *elsewhere_options : first_options);
        if (!client) return outcome;
      }
      target = std::move(next);
      continue;
    }
    if (sink.stopped()) end = {ending::stopped, {}};
    describe_end(end, sink, options, outcome);
    return outcome;
  }
}

}  // namespace

std::int64_t parse_count(std::string_view text) {
  if (text.empty() || text.size() > 18) return -1;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool read_status_line(std::string_view line, raw_head& head) {
  if (!line.starts_with("HTTP/")) return false;
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return false;
  long code = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    code = code * 10 + (line[i] - '0');
  }
  head = raw_head{};
  head.status = code;
  head.status_text = trimmed(line.substr(space + 4));
  return true;
}

void read_header_line(std::string_view line, raw_head& head) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view name = trimmed(line.substr(0, colon));
  const std::string_view value = trimmed(line.substr(colon + 1));
  auto is = [&](std::string_view wanted) {
    return equals_ignoring_case(name, wanted);
  };
  if (is("location")) {
    if (head.location.empty()) head.location = value;
  } else if (is("content-length")) {
    head.content_length = value;
  } else if (is("content-range")) {
    head.content_range = value;
  } else if (is("etag")) {
    head.etag = value;
  } else if (is("last-modified")) {
    head.last_modified = value;
  } else if (is("retry-after")) {
    head.retry_after = value;
  } else if (is("content-type")) {
    head.content_type = value;
  } else if (is("set-cookie")) {
    head.set_cookies.emplace_back(value);
  }
}

// ---- the clock ------------------------------------------------------------------

fetch_clock::fetch_clock(const fetch_options& options)
    : options_(options), started_(clock::now()), since_(started_) {}

void fetch_clock::hop_starts() {
  phase_ = phase::connecting;
  since_ = clock::now();
}

void fetch_clock::connected(clock::time_point at) {
  if (phase_ != phase::connecting) return;
  phase_ = phase::waiting_for_head;
  since_ = at;
}

void fetch_clock::arrived() {
  phase_ = phase::reading_body;
  since_ = clock::now();
}

fetch_clock::clock::time_point fetch_clock::phase_deadline(bool& limited) const {
  const long limit =
      phase_ == phase::connecting ? options_.connect_timeout_ms : options_.stall_timeout_ms;
  limited = limit > 0;
  return since_ + std::chrono::milliseconds(limit);
}

ending fetch_clock::expired() const {
  if (options_.cancel && options_.cancel->load()) return ending::cancelled;
  // Compared at the clock's own precision: a deadline less than a millisecond away
  // has not passed, and must not be reported as another limit's.
  const auto now = clock::now();
  if (options_.total_timeout_ms > 0 &&
      now >= started_ + std::chrono::milliseconds(options_.total_timeout_ms))
    return ending::out_of_time;
  bool limited = false;
  if (const auto deadline = phase_deadline(limited); limited && now >= deadline)
    return phase_ == phase::connecting ? ending::connect_timeout : ending::stalled;
  return ending::none;
}

std::chrono::milliseconds fetch_clock::next_wait() const {
  auto wait = options_.cancel ? cancel_poll : idle_poll;
  const auto now = clock::now();
  auto shorten_to = [&](clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    wait = std::clamp(left, std::chrono::milliseconds(1), wait);
  };
  if (options_.total_timeout_ms > 0)
    shorten_to(started_ + std::chrono::milliseconds(options_.total_timeout_ms));
  bool limited = false;
  if (const auto deadline = phase_deadline(limited); limited) shorten_to(deadline);
  return wait;
}

}  // namespace fetch_hop

fetch_outcome fetch_page_reporting(std::string_view address, const fetch_options& options) {
  byte_string body;
  bool capped = false, out_of_memory = false;
  const head_handler reserve = [&](const response_head& head) {
    if (head.content_length > 0) {
      try {
        body.reserve(std::min<std::size_t>(static_cast<std::size_t>(head.content_length),
                                           options.body_cap));
      } catch (const std::bad_alloc&) {  // the bytes may still fit as they come
      }
    }
    return true;
  };
  const body_handler collect = [&](std::string_view bytes) {
    try {
      const std::size_t room = options.body_cap - std::min(options.body_cap, body.size());
      if (bytes.size() > room) {
        body.append(bytes.substr(0, room));
        capped = true;
        return false;
      }
      body.append(bytes);
      return true;
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
      return false;
    }
  };
  fetch_outcome outcome = fetch_hop::run_fetch(address, options, fetch_request{}, reserve, collect);
  // The body handler stopped the fetch: the page is more than is kept.
  if (outcome.cut == fetch_cut::interrupted && capped) {
    outcome.cut = fetch_cut::capped;
    outcome.kind = error_kind::page;
    outcome.error =
        "the page is larger than " + std::to_string(options.body_cap) + " bytes; stopped there";
  } else if (outcome.cut == fetch_cut::interrupted && out_of_memory) {
    outcome.cut = fetch_cut::broken;
    outcome.kind = error_kind::page;
    outcome.error = "out of memory";
  }
  outcome.body = std::move(body);
  return outcome;
}

fetch_outcome fetch_streaming(std::string_view address, const fetch_options& options,
                              const fetch_request& request, const head_handler& on_head,
                              const body_handler& on_body) {
  return fetch_hop::run_fetch(address, options, request, on_head, on_body);
}

std::optional<error_kind> failure_kind_of(const fetch_outcome& outcome) {
  if (!outcome.fetched) return outcome.kind.value_or(error_kind::network);
  if (outcome.status != 0 && (outcome.status < 200 || outcome.status > 299)) return error_kind::http;
  return std::nullopt;
}

byte_string fetch_page(std::string_view address) { return fetch_page_reporting(address).body; }

std::string cookie_header_for(std::string_view address, const fetch_options& options) {
  const fetch_address target = prepare_fetch_address(address);
  if (!target.error.empty()) return {};
  return process_cookie_jar().header_for(target.url, options.user_cookies.get(), options.user_cookie_site,
                                         std::time(nullptr));
}

std::string ca_file_from_environment() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"})
    if (const char* file = std::getenv(name); file && *file) return file;
  return {};
}

}  // namespace sharelink
