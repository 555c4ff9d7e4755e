// The hops of a fetch on libcurl: one HTTP/1.0 GET each. Cookies are the fetch's
// (fetch.cpp keeps them in the process's jar), not libcurl's.
#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "runtime/fetch.h"
#include "runtime/fetch_hop.h"

namespace sharelink {
namespace {

using namespace fetch_hop;

constexpr std::size_t max_header_bytes = 256 * 1024;

// The process's one HTTP context: libcurl's global state, a share holding the
// name cache and the TLS sessions, and the idle multi handles.
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
  fetch_clock* clock = nullptr;
  hop_sink* sink = nullptr;
  raw_head head;
  bool head_done = false;
  std::size_t header_bytes = 0;
  bool headers_too_large = false;
};

int on_connected(void* state, char*, char*, int, int) {
  static_cast<hop_state*>(state)->clock->connected();
  return CURL_PREREQFUNC_OK;
}

bool is_blank_line(std::string_view line) {
  return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

std::size_t on_header(char* data, std::size_t, std::size_t size, void* state) {
  auto& hop = *static_cast<hop_state*>(state);
  hop.header_bytes += size;
  if (hop.header_bytes > max_header_bytes) {
    hop.headers_too_large = true;
    return 0;
  }
  const std::string_view line(data, size);
  if (read_status_line(line, hop.head)) return size;
  if (!is_blank_line(line)) {
    read_header_line(line, hop.head);
    return size;
  }
  if (hop.head.status >= 100 && hop.head.status < 200) return size;  // an interim answer
  hop.head_done = true;
  hop.clock->arrived();
  return hop.sink->take_head(hop.head) ? size : 0;
}

std::size_t on_body(char* data, std::size_t, std::size_t size, void* state) {
  auto& hop = *static_cast<hop_state*>(state);
  hop.clock->arrived();
  return hop.sink->take_body(std::string_view(data, size)) ? size : 0;
}

/// Runs the transfer on `easy` until it ends (true, `result` then set) or `clock`
/// says a limit ran out (false, `why` then set).
bool run_transfer(CURLM* multi, CURL* easy, const fetch_clock& clock, CURLcode& result,
                  ending& why) {
  why = ending::client_failed;
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return false;
  bool finished = false;
  for (;;) {
    if (why = clock.expired(); why != ending::none) break;
    why = ending::client_failed;
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    int queued = 0;
    if (CURLMsg* message = curl_multi_info_read(multi, &queued);
        message && message->msg == CURLMSG_DONE) {
      result = message->data.result;
      finished = true;
      break;
    }
    if (running == 0) break;
    const auto wait = static_cast<int>(clock.next_wait().count());
    if (curl_multi_poll(multi, nullptr, 0, wait, nullptr) != CURLM_OK) break;
  }
  curl_multi_remove_handle(multi, easy);
  return finished;
}

/// The ending of a transfer that libcurl finished with `code`.
ending ending_of(CURL* easy, CURLcode code, bool through_proxy) {
  switch (code) {
    case CURLE_OK: return ending::none;
    case CURLE_COULDNT_CONNECT: {
      // With a proxy the one connection made is the proxy's.
      if (through_proxy) return ending::proxy_refused;
      long os_error = 0;
      curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &os_error);
      return os_error == ECONNREFUSED ? ending::refused : ending::cannot_connect;
    }
    case CURLE_OPERATION_TIMEDOUT: return ending::connect_timeout;
    case CURLE_COULDNT_RESOLVE_HOST: return ending::host_not_found;
    case CURLE_COULDNT_RESOLVE_PROXY: return ending::proxy_not_found;
    case CURLE_PROXY: return ending::proxy_failed;
    case CURLE_PEER_FAILED_VERIFICATION: return ending::certificate;
    case CURLE_SSL_CONNECT_ERROR: return ending::handshake;
    case CURLE_SSL_CACERT_BADFILE: return ending::ca_file;
    case CURLE_PARTIAL_FILE: return ending::closed;
    case CURLE_GOT_NOTHING: return ending::no_answer;
    case CURLE_RECV_ERROR: return ending::receive_failed;
    case CURLE_SEND_ERROR: return ending::send_failed;
    case CURLE_URL_MALFORMAT: return ending::malformed;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL: return ending::not_http;
    default: return ending::other;
  }
}

/// The proxy libcurl takes from the environment for `url` when none is set, as it
/// reads it: the scheme's own variable (http_proxy in lower case only), then
/// all_proxy; none when no_proxy names the host. Only for telling a proxy's failure
/// from the server's.
bool environment_proxy_applies(const fetch_address& target);

void set_common_options(CURL* easy, CURLSH* share, curl_slist* headers, hop_state& hop,
                        char* error_buffer, const fetch_options& options,
                        const hop_request& request) {
  curl_easy_setopt(easy, CURLOPT_SHARE, share);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);  // followed by the fetch, hop by hop
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
  if (!request.referer.empty()) curl_easy_setopt(easy, CURLOPT_REFERER, request.referer.c_str());
  if (!request.range.empty()) curl_easy_setopt(easy, CURLOPT_RANGE, request.range.c_str());
  if (request.post_body) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.post_body->size()));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, request.post_body->data());
  }
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

/// One fetch's handles, kept from hop to hop.
class curl_client final : public hop_client {
 public:
  curl_client(const fetch_options& options, CURLSH* share, std::unique_ptr<CURLM, multi_returner> multi,
              std::unique_ptr<CURL, easy_deleter> easy, std::unique_ptr<curl_slist, slist_deleter> headers,
              const hop_request& request)
      : options_(options), multi_(std::move(multi)), easy_(std::move(easy)), headers_(std::move(headers)) {
    set_common_options(easy_.get(), share, headers_.get(), hop_, error_buffer_, options, request);
  }

  hop_end run_hop(const fetch_address& target, std::string_view cookie, fetch_clock& clock, hop_sink& sink) override {
    hop_ = hop_state{};
    hop_.clock = &clock;
    hop_.sink = &sink;
    error_buffer_[0] = '\0';
    curl_easy_setopt(easy_.get(), CURLOPT_URL, target.url.c_str());
    // Without libcurl's cookie engine this is the one Cookie header (a rule's own
    // Cookie header takes its place).
    const std::string cookie_text(cookie);
    curl_easy_setopt(easy_.get(), CURLOPT_COOKIE, cookie.empty() ? nullptr : cookie_text.c_str());
    CURLcode result = CURLE_OK;
    ending why = ending::none;
    if (!run_transfer(multi_.get(), easy_.get(), clock, result, why)) return {why, {}};
    if (hop_.headers_too_large) return {ending::headers_too_large, {}};
    const bool through_proxy =
        options_.proxy ? !options_.proxy->empty() : environment_proxy_applies(target);
    return {ending_of(easy_.get(), result, through_proxy),
            *error_buffer_ ? error_buffer_ : curl_easy_strerror(result)};
  }

 private:
  const fetch_options& options_;
  std::unique_ptr<CURLM, multi_returner> multi_;
  std::unique_ptr<CURL, easy_deleter> easy_;
  std::unique_ptr<curl_slist, slist_deleter> headers_;
  hop_state hop_;
  char error_buffer_[CURL_ERROR_SIZE] = {};
};

/// Whether a no_proxy list ("*", or names separated by commas) names the host of
/// `target` or a domain above it.
bool host_listed(const fetch_address& target, std::string_view list) {
  const std::string host = host_of(target.url);
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view entry = trim(list.substr(0, comma), " ");
    list = comma == std::string_view::npos ? "" : list.substr(comma + 1);
    if (entry == "*") return true;
    if (host_in_domain(host, entry)) return true;
  }
  return false;
}

std::string environment_text(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool environment_proxy_applies(const fetch_address& target) {
  std::string proxy = environment_text(target.secure ? "https_proxy" : "http_proxy");
  if (proxy.empty() && target.secure) proxy = environment_text("HTTPS_PROXY");
  if (proxy.empty()) proxy = environment_text("all_proxy");
  if (proxy.empty()) proxy = environment_text("ALL_PROXY");
  if (proxy.empty()) return false;
  std::string no_proxy = environment_text("no_proxy");
  if (no_proxy.empty()) no_proxy = environment_text("NO_PROXY");
  return !host_listed(target, no_proxy);
}

}  // namespace

namespace fetch_hop {

std::unique_ptr<hop_client> open_client(const fetch_options& options, const hop_request& request,
                                        std::string& error) {
  CURLSH* share = the_context.share();
  std::unique_ptr<CURLM, multi_returner> multi(share ? the_context.take_multi() : nullptr);
  std::unique_ptr<CURL, easy_deleter> easy(multi ? curl_easy_init() : nullptr);
  // A header of the caller's takes the place of the default one of its name. The
  // list starts with an entry in any case ("Name:" with no value sends nothing).
  const bool own_accept = std::any_of(options.headers.begin(), options.headers.end(), [](const std::string& h) {
    return h.size() >= 7 && (h[0] | 0x20) == 'a' && (h[1] | 0x20) == 'c' && (h[2] | 0x20) == 'c' &&
           (h[3] | 0x20) == 'e' && (h[4] | 0x20) == 'p' && (h[5] | 0x20) == 't' && h[6] == ':';
  });
  std::unique_ptr<curl_slist, slist_deleter> headers(
      easy ? curl_slist_append(nullptr, own_accept ? "X-Unused:" : "Accept: */*") : nullptr);
  std::vector<std::string> extra = options.headers;
  if (!request.if_range.empty()) extra.push_back("If-Range: " + request.if_range);
  for (const std::string& header : extra) {
    if (!headers) break;
    if (curl_slist* more = curl_slist_append(headers.get(), header.c_str())) {
      headers.release();
      headers.reset(more);
    } else {
      headers.reset();
    }
  }
  if (!headers) {
    error = "cannot set up the HTTP client";
    return nullptr;
  }
  return std::make_unique<curl_client>(options, share, std::move(multi), std::move(easy),
                                       std::move(headers), request);
}

}  // namespace fetch_hop

const bool fetcher_takes_ca_file = true;


}  // namespace sharelink
