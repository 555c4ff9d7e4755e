// The page fetcher on libcurl: one HTTP/1.0 GET per hop, redirects followed here so
// that every hop is checked, cookies shared by every fetch of the process.
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "runtime/fetch.h"
#include "runtime/fetch_cookies.h"

namespace sharelink {
namespace {

using clock_type = std::chrono::steady_clock;

constexpr int max_redirects = 20;
constexpr std::size_t max_header_bytes = 256 * 1024;
/// How often a running transfer looks at the cancel flag.
constexpr long cancel_poll_ms = 50;

// The process's one HTTP context: libcurl's global state, a share holding the
// cookie jar, the name cache and the TLS sessions, and the idle multi handles.
// Opened by the first fetch, retried by later ones when that failed.
//
// Connections are not shared: every request is HTTP/1.0, so the server closes each
// one after its answer, and libcurl does not support a connection pool used by
// several threads at once.
class curl_context {
 public:
  /// A multi handle for one fetch, to be handed back with give_back; null when none
  /// can be made. Handles are kept from one fetch to the next, whatever the thread,
  /// so that what libcurl caches in them (the parsed certificate store above all) is
  /// not rebuilt for every https fetch: a batch of N fetches at a time parses it N
  /// times at most.
  CURLM* take_multi() {
    {
      std::lock_guard lock(idle_mutex_);
      if (!idle_multis_.empty()) {
        CURLM* multi = idle_multis_.back();
        idle_multis_.pop_back();
        return multi;
      }
    }
    return curl_multi_init();
  }
  void give_back(CURLM* multi) {
    std::lock_guard lock(idle_mutex_);
    idle_multis_.push_back(multi);
  }

  /// The share, or null when libcurl cannot be set up.
  CURLSH* share() {
    std::lock_guard lock(open_mutex_);
    if (share_) return share_;
    if (!initialized_) initialized_ = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!initialized_) return nullptr;
    CURLSH* share = curl_share_init();
    if (!share) return nullptr;
    if (curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &curl_context::lock) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &curl_context::unlock) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_USERDATA, this) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK ||
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK) {
      curl_share_cleanup(share);
      return nullptr;
    }
    share_ = share;
    return share_;
  }

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<curl_context*>(self)->data_mutex(data).lock();
  }
  static void unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<curl_context*>(self)->data_mutex(data).unlock();
  }
  std::mutex& data_mutex(curl_lock_data data) {
    auto index = static_cast<std::size_t>(data);
    return data_mutexes_[index < data_mutexes_.size() ? index : 0];
  }

  std::mutex open_mutex_;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> data_mutexes_;
  bool initialized_ = false;
  CURLSH* share_ = nullptr;
  std::mutex idle_mutex_;
  std::vector<CURLM*> idle_multis_;
};

// Never destroyed: a fetch still running on another thread when the program ends (a
// window closed during a fetch abandons it) may be using the share and its locks
// while the process exits. The system takes everything back.
curl_context& the_context = *new curl_context;

struct easy_deleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct multi_returner {
  void operator()(CURLM* multi) const { the_context.give_back(multi); }
};
struct slist_deleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// What one hop has seen so far; the callbacks write it, the transfer loop reads it.
struct hop_state {
  const head_handler* on_head = nullptr;
  const body_handler* on_body = nullptr;

  bool connected = false;  // the request is about to go or has gone
  clock_type::time_point connected_at;
  clock_type::time_point last_arrival;

  long status = 0;
  std::string status_text;
  bool headers_done = false;
  std::size_t header_bytes = 0;
  std::string location;
  std::int64_t content_length = -1;
  std::string content_range;
  std::string etag, last_modified;

  std::uint64_t delivered = 0;  // body bytes the consumer took
  bool redirect = false;        // headers of a redirect are in; the transfer was stopped
  bool stopped = false;         // the consumer asked to stop
  bool headers_too_large = false;
};

bool is_followed_status(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

/// A whole decimal number of at most 18 digits, or -1.
std::int64_t parse_count(std::string_view text) {
  if (text.empty() || text.size() > 18) return -1;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

/// Status code of an "HTTP/x.y NNN reason" line, or -1; the reason goes to `reason`.
long parse_status(std::string_view line, std::string& reason) {
  if (!line.starts_with("HTTP/")) return -1;
  std::size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return -1;
  long code = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return -1;
    code = code * 10 + (line[i] - '0');
  }
  reason = trim(line.substr(space + 4));
  return code;
}

/// Fills the range fields of `head` from a "bytes FIRST-LAST/TOTAL" value; "*" for
/// either part leaves its fields at -1.
void parse_content_range(std::string_view value, response_head& head) {
  value = trim(value);
  if (!starts_with_ignoring_case(value, "bytes ")) return;
  value = trim(value.substr(6));
  const std::size_t slash = value.find('/');
  if (slash == std::string_view::npos) return;
  const std::string_view span = value.substr(0, slash);
  head.range_total = parse_count(trim(value.substr(slash + 1)));
  const std::size_t dash = span.find('-');
  if (dash == std::string_view::npos) return;
  const std::int64_t first = parse_count(trim(span.substr(0, dash)));
  const std::int64_t last = parse_count(trim(span.substr(dash + 1)));
  if (first >= 0 && last >= first) {
    head.range_first = first;
    head.range_last = last;
  }
}

int on_connected(void* state, char*, char*, int, int) {
  auto& hop = *static_cast<hop_state*>(state);
  hop.connected = true;
  hop.connected_at = hop.last_arrival = clock_type::now();
  return CURL_PREREQFUNC_OK;
}

/// The head of the final response is in: tell the consumer. False stops the transfer.
bool deliver_head(hop_state& hop) {
  if (!hop.on_head || !*hop.on_head) return true;
  response_head head;
  head.status = hop.status;
  head.status_text = hop.status_text;
  head.content_length = hop.content_length;
  if (!hop.content_range.empty()) parse_content_range(hop.content_range, head);
  head.etag = hop.etag;
  head.last_modified = hop.last_modified;
  return (*hop.on_head)(head);
}

std::size_t on_header(char* data, std::size_t, std::size_t size, void* state) {
  auto& hop = *static_cast<hop_state*>(state);
  hop.last_arrival = clock_type::now();
  hop.header_bytes += size;
  if (hop.header_bytes > max_header_bytes) {
    hop.headers_too_large = true;
    return 0;
  }
  const std::string_view line(data, size);
  std::string reason;
  if (long status = parse_status(line, reason); status >= 0) {
    hop.status = status;
    hop.status_text = std::move(reason);
    hop.location.clear();
    hop.content_length = -1;
    hop.content_range.clear();
    hop.etag.clear();
    hop.last_modified.clear();
    return size;
  }
  if (trim(line).empty()) {
    if (hop.status >= 100 && hop.status < 200) return size;  // an interim response ended
    hop.headers_done = true;
    if (is_followed_status(hop.status) && !hop.location.empty()) {
      hop.redirect = true;
      return 0;  // its body is of no use; stop here and follow
    }
    if (!deliver_head(hop)) {
      hop.stopped = true;
      return 0;
    }
    return size;
  }
  if (hop.location.empty() && starts_with_ignoring_case(line, "location:"))
    hop.location = trim(line.substr(9));
  else if (starts_with_ignoring_case(line, "content-length:"))
    hop.content_length = parse_count(trim(line.substr(15)));
  else if (starts_with_ignoring_case(line, "content-range:"))
    hop.content_range = trim(line.substr(14));
  else if (starts_with_ignoring_case(line, "etag:"))
    hop.etag = trim(line.substr(5));
  else if (starts_with_ignoring_case(line, "last-modified:"))
    hop.last_modified = trim(line.substr(14));
  return size;
}

std::size_t on_body(char* data, std::size_t, std::size_t size, void* state) {
  auto& hop = *static_cast<hop_state*>(state);
  hop.last_arrival = clock_type::now();
  if (hop.on_body && *hop.on_body && !(*hop.on_body)(std::string_view(data, size))) {
    hop.stopped = true;
    return 0;
  }
  hop.delivered += size;
  return size;
}

enum class wait_result { finished, timed_out, out_of_time, cancelled, failed };

/// Runs the transfer on `easy` until it ends or the server goes quiet: the response
/// headers must be complete within `stall_ms` of the connection being made, and after
/// them nothing may arrive for no longer than `stall_ms` (0 or less: no such limit).
/// Whatever happens, it ends at `give_up_at` when one is given, and soon after
/// `cancel` turns true.
wait_result run_transfer(CURLM* multi, CURL* easy, const hop_state& hop, long stall_ms,
                         std::optional<clock_type::time_point> give_up_at,
                         const std::atomic<bool>* cancel, CURLcode& result) {
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return wait_result::failed;
  const auto stall = std::chrono::milliseconds(stall_ms);
  wait_result outcome = wait_result::failed;
  for (;;) {
    if (cancel && cancel->load()) {
      outcome = wait_result::cancelled;
      break;
    }
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    int queued = 0;
    if (CURLMsg* message = curl_multi_info_read(multi, &queued);
        message && message->msg == CURLMSG_DONE) {
      result = message->data.result;
      outcome = wait_result::finished;
      break;
    }
    if (running == 0) break;

    std::optional<clock_type::time_point> deadline = give_up_at;
    if (hop.connected && stall_ms > 0) {
      const auto quiet_until = (hop.headers_done ? hop.last_arrival : hop.connected_at) + stall;
      if (!deadline || quiet_until < *deadline) deadline = quiet_until;
    }
    long wait_ms = cancel ? cancel_poll_ms : 1000;
    if (deadline) {
      // Compared at the clock's own precision: a deadline less than a millisecond
      // away has not passed, and must not be reported as the other limit's.
      const auto now = clock_type::now();
      if (*deadline <= now) {
        outcome =
            give_up_at && now >= *give_up_at ? wait_result::out_of_time : wait_result::timed_out;
        break;
      }
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now);
      wait_ms = std::min<long>(wait_ms, static_cast<long>(left.count()));
    }
    if (curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait_ms), nullptr) != CURLM_OK) break;
  }
  curl_multi_remove_handle(multi, easy);
  return outcome;
}

std::string one_line(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

/// " after N bytes" or " after N of M bytes", for a response whose head is in.
std::string bytes_so_far(const hop_state& hop) {
  std::string text = " after " + std::to_string(hop.delivered);
  if (hop.content_length >= 0) text += " of " + std::to_string(hop.content_length);
  return text + " bytes";
}

/// The reason a finished transfer failed, in one line, and whether it cut a transfer
/// that had begun.
std::string describe_failure(CURL* easy, CURLcode code, const char* detail,
                             const fetch_options& options, const hop_state& hop,
                             fetch_cut& cut) {
  const std::string more = *detail ? one_line(detail) : curl_easy_strerror(code);
  switch (code) {
    case CURLE_COULDNT_CONNECT: {
      long os_error = 0;
      curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &os_error);
      if (os_error == ECONNREFUSED) return "connection refused";
      return "cannot connect: " + more;
    }
    case CURLE_OPERATION_TIMEDOUT:
      if (options.connect_timeout_ms <= 0) return "timed out connecting";
      return "timed out connecting after " + std::to_string(options.connect_timeout_ms) + " ms";
    case CURLE_COULDNT_RESOLVE_HOST:
      return "host not found: " + more;
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "proxy not found: " + more;
    case CURLE_PEER_FAILED_VERIFICATION:
      return "TLS certificate not accepted: " + more;
    case CURLE_SSL_CONNECT_ERROR:
      return "TLS handshake failed: " + more;
    case CURLE_SSL_CACERT_BADFILE:
      return "cannot read the certificate authorities: " + more;
    case CURLE_PARTIAL_FILE:
      cut = fetch_cut::broken;
      return "connection closed" + bytes_so_far(hop);
    case CURLE_GOT_NOTHING:
      cut = fetch_cut::broken;
      return "the server closed the connection without answering";
    case CURLE_RECV_ERROR:
      cut = fetch_cut::broken;
      if (hop.headers_done) return "connection broken" + bytes_so_far(hop) + ": " + more;
      return "receive failed: " + more;
    case CURLE_SEND_ERROR:
      return "send failed: " + more;
    case CURLE_URL_MALFORMAT:
      return "malformed address: " + more;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return "the answer is not HTTP: " + more;
    default:
      return more;
  }
}

void set_common_options(CURL* easy, CURLSH* share, curl_slist* headers, hop_state& hop,
                        char* error_buffer, const fetch_options& options,
                        const fetch_request& request, const std::string& referer) {
  curl_easy_setopt(easy, CURLOPT_SHARE, share);
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // cookies in memory only
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);  // followed by hand, hop by hop
  // Unset: libcurl reads http_proxy, https_proxy, ALL_PROXY and no_proxy itself.
  if (options.proxy) curl_easy_setopt(easy, CURLOPT_PROXY, options.proxy->c_str());
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, std::string(fetch_user_agent).c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  // Reads of 100 KB, as the curl tool asks for: a large download takes a sixth of
  // the reads (and poll calls) that libcurl's default 16 KB would.
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 102400L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options.ca_file.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, options.ca_file.c_str());
  // libcurl keeps the parsed certificate store in the multi handle for later fetches,
  // but not when a certificate folder is set, as Debian's build does by default; its
  // bundle file holds the same certificates. Without the cache every https fetch
  // parses the whole bundle again (tens of milliseconds).
  char* bundle = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_CAINFO, &bundle) == CURLE_OK && bundle && *bundle)
    curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
  if (!referer.empty()) curl_easy_setopt(easy, CURLOPT_REFERER, referer.c_str());
  if (request.range_from >= 0)
    curl_easy_setopt(easy, CURLOPT_RANGE, (std::to_string(request.range_from) + "-").c_str());
  // 0 or less leaves libcurl's own connect limit.
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                   options.connect_timeout_ms > 0 ? options.connect_timeout_ms : 0L);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &on_connected);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, &hop);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &on_header);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &hop);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &on_body);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &hop);
}

/// One fetch, redirects followed, the final response's head and body handed to the
/// handlers as they arrive. The outcome's body stays empty.
fetch_outcome run_fetch(std::string_view address, const fetch_options& options,
                        const fetch_request& request, const head_handler& on_head_handler,
                        const body_handler& on_body_handler) {
  fetch_outcome outcome;
  fetch_address target = prepare_fetch_address(address);
  if (!target.error.empty()) {
    outcome.error = target.error;
    return outcome;
  }
  std::string referer;
  if (!request.referer.empty()) referer = prepare_fetch_address(request.referer).url;

  CURLSH* share = the_context.share();
  std::unique_ptr<CURLM, multi_returner> multi(share ? the_context.take_multi() : nullptr);
  std::unique_ptr<CURL, easy_deleter> easy(multi ? curl_easy_init() : nullptr);
  std::unique_ptr<curl_slist, slist_deleter> headers(
      easy ? curl_slist_append(nullptr, "Accept: */*") : nullptr);
  if (!headers) {
    outcome.error = "cannot set up the HTTP client";
    return outcome;
  }
  if (request.range_from >= 0 && !request.if_range.empty()) {
    if (!is_header_value(request.if_range)) {
      outcome.error = "If-Range: not a header value";
      return outcome;
    }
    curl_slist* more = curl_slist_append(headers.get(), ("If-Range: " + request.if_range).c_str());
    if (!more) {
      outcome.error = "cannot set up the HTTP client";
      return outcome;
    }
    headers.release();
    headers.reset(more);
  }

  std::optional<clock_type::time_point> give_up_at;
  if (options.total_timeout_ms > 0)
    give_up_at = clock_type::now() + std::chrono::milliseconds(options.total_timeout_ms);

  hop_state hop;
  char error_buffer[CURL_ERROR_SIZE] = {};
  set_common_options(easy.get(), share, headers.get(), hop, error_buffer, options, request,
                     referer);

  for (int redirects = 0;; ++redirects) {
    hop = hop_state{};
    hop.on_head = &on_head_handler;
    hop.on_body = &on_body_handler;
    error_buffer[0] = '\0';
    curl_easy_setopt(easy.get(), CURLOPT_URL, target.url.c_str());

    CURLcode result = CURLE_OK;
    const wait_result waited = run_transfer(multi.get(), easy.get(), hop, options.stall_timeout_ms,
                                            give_up_at, options.cancel, result);
    if (hop.headers_done) {
      outcome.status = hop.status;
      outcome.status_text = hop.status_text;
    }
    switch (waited) {
      case wait_result::out_of_time:
        outcome.cut = fetch_cut::out_of_time;
        outcome.error = "timed out: the fetch took longer than " +
                        std::to_string(options.total_timeout_ms) + " ms";
        if (hop.headers_done) outcome.error += ", stopped" + bytes_so_far(hop);
        return outcome;
      case wait_result::timed_out:
        outcome.cut = fetch_cut::stalled;
        outcome.error = hop.headers_done
                            ? "timed out: nothing received for " +
                                  std::to_string(options.stall_timeout_ms) + " ms" +
                                  bytes_so_far(hop)
                            : "timed out: no response within " +
                                  std::to_string(options.stall_timeout_ms) + " ms";
        return outcome;
      case wait_result::cancelled:
        outcome.cut = fetch_cut::interrupted;
        outcome.error = "interrupted";
        return outcome;
      case wait_result::failed:
        outcome.error = "the HTTP client failed";
        return outcome;
      case wait_result::finished:
        break;
    }
    if (hop.redirect) {
      if (redirects == max_redirects) {
        outcome.error = "too many redirects";
        return outcome;
      }
      fetch_address next = follow_redirect(target, hop.location);
      if (!next.error.empty()) {
        outcome.error = next.error;
        return outcome;
      }
      target = std::move(next);
      continue;
    }
    if (result == CURLE_OK) {
      outcome.fetched = true;
    } else if (hop.stopped) {
      outcome.cut = fetch_cut::interrupted;
      outcome.error = "interrupted";
    } else if (hop.headers_too_large) {
      outcome.error = "response headers too large";
    } else {
      outcome.error =
          describe_failure(easy.get(), result, error_buffer, options, hop, outcome.cut);
    }
    return outcome;
  }
}

}  // namespace

fetch_outcome fetch_page_reporting(std::string_view address, const fetch_options& options) {
  byte_string body;
  bool capped = false;
  const head_handler reserve = [&](const response_head& head) {
    if (head.content_length > 0)
      body.reserve(std::min<std::size_t>(static_cast<std::size_t>(head.content_length),
                                         options.body_cap));
    return true;
  };
  const body_handler collect = [&](std::string_view bytes) {
    const std::size_t room = options.body_cap - body.size();
    if (bytes.size() > room) {
      body.append(bytes.substr(0, room));
      capped = true;
      return false;
    }
    body.append(bytes);
    return true;
  };
  fetch_outcome outcome = run_fetch(address, options, fetch_request{}, reserve, collect);
  if (capped && outcome.cut == fetch_cut::interrupted) {
    outcome.cut = fetch_cut::capped;
    outcome.error =
        "the page is larger than " + std::to_string(options.body_cap) + " bytes; stopped there";
  }
  outcome.body = std::move(body);
  return outcome;
}

fetch_outcome fetch_streaming(std::string_view address, const fetch_options& options,
                              const fetch_request& request, const head_handler& on_head,
                              const body_handler& on_body) {
  return run_fetch(address, options, request, on_head, on_body);
}

std::string cookie_header_for(std::string_view address) {
  const fetch_address target = prepare_fetch_address(address);
  CURLSH* share = target.error.empty() ? the_context.share() : nullptr;
  std::unique_ptr<CURL, easy_deleter> easy(share ? curl_easy_init() : nullptr);
  if (!easy) return {};
  curl_easy_setopt(easy.get(), CURLOPT_SHARE, share);
  curl_slist* list = nullptr;
  if (curl_easy_getinfo(easy.get(), CURLINFO_COOKIELIST, &list) != CURLE_OK) return {};
  std::vector<std::string> jar;
  for (const curl_slist* item = list; item; item = item->next) jar.emplace_back(item->data);
  curl_slist_free_all(list);
  return cookie_header_from_jar(jar, target.url, std::time(nullptr));
}

}  // namespace sharelink
