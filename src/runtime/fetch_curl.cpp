// The page fetcher on libcurl: one HTTP/1.0 GET per hop, redirects followed here so
// that every hop is checked, cookies shared by every fetch of the process.
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "runtime/fetch.h"

namespace sharelink {
namespace {

using clock_type = std::chrono::steady_clock;

constexpr int max_redirects = 20;
constexpr std::size_t max_header_bytes = 256 * 1024;

// The process's one HTTP context: libcurl's global state and a share holding the
// cookie jar and the name cache. Opened by the first fetch, retried by later ones
// when that failed, released when the program ends.
class curl_context {
 public:
  ~curl_context() {
    if (share_) curl_share_cleanup(share_);
    if (initialized_) curl_global_cleanup();
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
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK) {
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
};

// Defined at namespace scope so that it is destroyed after everything libcurl and its
// TLS library register at exit.
curl_context the_context;

struct easy_deleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct multi_deleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct slist_deleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// What one hop has seen so far; the callbacks write it, the transfer loop reads it.
struct hop_state {
  CURL* easy = nullptr;
  std::size_t body_cap = 0;
  byte_string* body = nullptr;

  bool connected = false;  // the request is about to go or has gone
  clock_type::time_point connected_at;
  clock_type::time_point last_arrival;

  long status = 0;
  bool headers_done = false;
  std::size_t header_bytes = 0;
  std::string location;

  bool redirect = false;  // headers of a redirect are in; the transfer was stopped
  bool capped = false;    // the body reached the cap; the transfer was stopped
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

/// Status code of an "HTTP/x.y NNN ..." line, or -1.
long parse_status(std::string_view line) {
  if (!line.starts_with("HTTP/")) return -1;
  std::size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return -1;
  long code = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return -1;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

int on_connected(void* state, char*, char*, int, int) {
  auto& hop = *static_cast<hop_state*>(state);
  hop.connected = true;
  hop.connected_at = hop.last_arrival = clock_type::now();
  return CURL_PREREQFUNC_OK;
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
  if (long status = parse_status(line); status >= 0) {
    hop.status = status;
    hop.location.clear();
    return size;
  }
  if (trim(line).empty()) {
    if (hop.status >= 100 && hop.status < 200) return size;  // an interim response ended
    hop.headers_done = true;
    if (is_followed_status(hop.status) && !hop.location.empty()) {
      hop.redirect = true;
      return 0;  // its body is of no use; stop here and follow
    }
    return size;
  }
  if (hop.location.empty() && starts_with_ignoring_case(line, "location:"))
    hop.location = trim(line.substr(9));
  return size;
}

std::size_t on_body(char* data, std::size_t, std::size_t size, void* state) {
  auto& hop = *static_cast<hop_state*>(state);
  hop.last_arrival = clock_type::now();
  byte_string& body = *hop.body;
  if (body.empty() && hop.body_cap > 0) {
    curl_off_t announced = -1;
    if (curl_easy_getinfo(hop.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
        announced > 0)
      body.reserve(std::min<std::size_t>(static_cast<std::size_t>(announced), hop.body_cap));
  }
  const std::size_t room = hop.body_cap - body.size();
  if (size > room) {
    body.append(data, room);
    hop.capped = true;
    return 0;
  }
  body.append(data, size);
  return size;
}

enum class wait_result { finished, timed_out, out_of_time, failed };

/// Runs the transfer on `easy` until it ends or the server goes quiet: the response
/// headers must be complete within `stall_ms` of the connection being made, and after
/// them nothing may arrive for no longer than `stall_ms` (0 or less: no such limit).
/// Whatever happens, it ends at `give_up_at` when one is given.
wait_result run_transfer(CURLM* multi, CURL* easy, const hop_state& hop, long stall_ms,
                         std::optional<clock_type::time_point> give_up_at, CURLcode& result) {
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return wait_result::failed;
  const auto stall = std::chrono::milliseconds(stall_ms);
  wait_result outcome = wait_result::failed;
  for (;;) {
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
    long wait_ms = 1000;
    if (deadline) {
      const auto now = clock_type::now();
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now);
      if (left.count() <= 0) {
        outcome =
            give_up_at && now >= *give_up_at ? wait_result::out_of_time : wait_result::timed_out;
        break;
      }
      wait_ms = std::min<long>(wait_ms, static_cast<long>(left.count()) + 1);
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

/// The reason a finished transfer failed, in one line.
std::string describe_failure(CURL* easy, CURLcode code, const char* detail,
                             const fetch_options& options) {
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
    case CURLE_PEER_FAILED_VERIFICATION:
      return "TLS certificate not accepted: " + more;
    case CURLE_SSL_CONNECT_ERROR:
      return "TLS handshake failed: " + more;
    case CURLE_PARTIAL_FILE:
      return "connection closed before the whole body arrived";
    case CURLE_GOT_NOTHING:
      return "the server closed the connection without answering";
    case CURLE_RECV_ERROR:
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
                        char* error_buffer, const fetch_options& options) {
  curl_easy_setopt(easy, CURLOPT_SHARE, share);
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // cookies in memory only
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);  // followed by hand, hop by hop
  curl_easy_setopt(easy, CURLOPT_PROXY, "");           // no proxy, whatever the environment says
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, std::string(fetch_user_agent).c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
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

}  // namespace

fetch_outcome fetch_page_reporting(std::string_view address, const fetch_options& options) {
  fetch_outcome outcome;
  fetch_address target = prepare_fetch_address(address);
  if (!target.error.empty()) {
    outcome.error = target.error;
    return outcome;
  }

  CURLSH* share = the_context.share();
  std::unique_ptr<CURL, easy_deleter> easy(share ? curl_easy_init() : nullptr);
  std::unique_ptr<CURLM, multi_deleter> multi(share ? curl_multi_init() : nullptr);
  std::unique_ptr<curl_slist, slist_deleter> headers(
      share ? curl_slist_append(nullptr, "Accept: */*") : nullptr);
  if (!easy || !multi || !headers) {
    outcome.error = "cannot set up the HTTP client";
    return outcome;
  }

  std::optional<clock_type::time_point> give_up_at;
  if (options.total_timeout_ms > 0)
    give_up_at = clock_type::now() + std::chrono::milliseconds(options.total_timeout_ms);

  hop_state hop;
  char error_buffer[CURL_ERROR_SIZE] = {};
  set_common_options(easy.get(), share, headers.get(), hop, error_buffer, options);

  for (int redirects = 0;; ++redirects) {
    hop = hop_state{};
    hop.easy = easy.get();
    hop.body_cap = options.body_cap;
    hop.body = &outcome.body;
    outcome.body.clear();
    error_buffer[0] = '\0';
    curl_easy_setopt(easy.get(), CURLOPT_URL, target.url.c_str());

    CURLcode result = CURLE_OK;
    wait_result waited =
        run_transfer(multi.get(), easy.get(), hop, options.stall_timeout_ms, give_up_at, result);
    if (waited == wait_result::out_of_time) {
      outcome.error = "timed out: the fetch took longer than " +
                      std::to_string(options.total_timeout_ms) + " ms";
      return outcome;
    }
    if (waited == wait_result::timed_out) {
      outcome.error = hop.headers_done ? "timed out: nothing received for " +
                                             std::to_string(options.stall_timeout_ms) + " ms"
                                       : "timed out waiting for the response";
      return outcome;
    }
    if (waited == wait_result::failed) {
      outcome.error = "the HTTP client failed";
      return outcome;
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
    if (result == CURLE_OK || (result == CURLE_WRITE_ERROR && hop.capped)) {
      outcome.fetched = true;
    } else if (hop.headers_too_large) {
      outcome.error = "response headers too large";
    } else {
      outcome.error = describe_failure(easy.get(), result, error_buffer, options);
    }
    return outcome;
  }
}

fetch_outcome fetch_streaming(std::string_view, const fetch_options&, const fetch_request&,
                              const head_handler&, const body_handler&) {
  fetch_outcome outcome;
  outcome.error = "streaming fetches are not available yet";
  return outcome;
}

}  // namespace sharelink
