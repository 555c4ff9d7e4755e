// The page fetcher on Windows: WinINet, one HTTP/1.0 GET per call.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "runtime/fetch.h"

namespace sharelink {
namespace {

constexpr DWORD kCanonicalBuffer = 2084;  // INTERNET_MAX_URL_LENGTH + 1
constexpr DWORD kHostBuffer = 256;
constexpr DWORD kPathBuffer = 2048;
constexpr DWORD kUserBuffer = 128;
constexpr DWORD kPasswordBuffer = 128;
constexpr std::size_t kDefaultChunk = 10240;
constexpr std::size_t kMaxChunk = 102400;

// The process's one internet handle, opened by the first fetch and closed when
// the program ends. The proxy settings are never set, so they stay empty.
struct fetch_context {
  HINTERNET internet = nullptr;
  std::string proxy;
  std::string proxy_user;
  std::string proxy_password;

  ~fetch_context() {
    if (internet) InternetCloseHandle(internet);
  }
};

fetch_context& context() {
  static fetch_context the_context;
  return the_context;
}

// Closes a connection or request handle at the end of a fetch.
struct handle_closer {
  HINTERNET handle = nullptr;
  ~handle_closer() {
    if (handle) InternetCloseHandle(handle);
  }
};

fetch_outcome failure(std::string reason) { return {{}, false, std::move(reason)}; }

std::string last_error(const char* what) {
  return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

// The canonical form of the address: a fixed buffer first, the reported size on retry.
bool canonicalize(const std::string& address, std::string& canonical) {
  std::vector<char> buffer(kCanonicalBuffer, '\0');
  DWORD length = kCanonicalBuffer;
  if (!InternetCanonicalizeUrlA(address.c_str(), buffer.data(), &length, ICU_NO_ENCODE)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    // `length` now holds the size needed; one spare byte in case it leaves out the NUL.
    buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
    length = static_cast<DWORD>(buffer.size());
    if (!InternetCanonicalizeUrlA(address.c_str(), buffer.data(), &length, ICU_NO_ENCODE))
      return false;
  }
  canonical.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
  return true;
}

struct cracked_address {
  INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
  INTERNET_PORT port = 0;
  char host[kHostBuffer] = {};
  char path[kPathBuffer] = {};
  char user[kUserBuffer] = {};
  char password[kPasswordBuffer] = {};
};

bool crack(const std::string& canonical, cracked_address& out) {
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = out.host;
  parts.dwHostNameLength = kHostBuffer;
  parts.lpszUrlPath = out.path;
  parts.dwUrlPathLength = kPathBuffer;
  parts.lpszUserName = out.user;
  parts.dwUserNameLength = kUserBuffer;
  parts.lpszPassword = out.password;
  parts.dwPasswordLength = kPasswordBuffer;
  if (!InternetCrackUrlA(canonical.c_str(), 0, 0, &parts)) return false;
  out.scheme = parts.nScheme;
  out.port = parts.nPort;
  return true;
}

// The Content-Length header decides how much each read asks for.
std::size_t read_chunk_size(HINTERNET request) {
  char value[32] = {};
  DWORD length = sizeof value;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, value, &length, nullptr))
    return kDefaultChunk;
  // Read as atol does (leading blanks, a sign, digits), without its overflow.
  const char* p = value;
  const char* end = value + strnlen(value, sizeof value);
  while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  unsigned long long announced = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    announced = announced * 10 + static_cast<unsigned>(*p - '0');
    if (announced >= kMaxChunk) break;  // large enough to cap
  }
  if (negative || announced == 0) return kDefaultChunk;
  return std::min<std::size_t>(static_cast<std::size_t>(announced) + 1, kMaxChunk);
}

void set_timeout(HINTERNET handle, DWORD option, long milliseconds) {
  if (milliseconds <= 0) return;
  DWORD value = static_cast<DWORD>(milliseconds);
  InternetSetOptionA(handle, option, &value, sizeof value);
}

}  // namespace

fetch_outcome fetch_page_reporting(std::string_view address_text, const fetch_options& options) {
  const ULONGLONG started = GetTickCount64();
  const std::string address(as_local(address_text));
  if (address.empty()) return failure("empty address");

  std::string canonical;
  if (!canonicalize(address, canonical)) return failure("the address cannot be read");
  cracked_address parts;
  if (!crack(canonical, parts)) return failure("the address cannot be read");

  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  if (parts.scheme == INTERNET_SCHEME_HTTPS) {
    flags |= INTERNET_FLAG_SECURE;
  } else if (parts.scheme != INTERNET_SCHEME_HTTP) {
    // FTP, Gopher, file and the rest cannot carry an HTTP request.
    return failure("unsupported scheme");
  }

  fetch_context& ctx = context();
  if (!ctx.internet) {
    ctx.internet = ctx.proxy.empty()
                       ? InternetOpenA(fetch_user_agent.data(), INTERNET_OPEN_TYPE_DIRECT,
                                       nullptr, nullptr, 0)
                       : InternetOpenA(fetch_user_agent.data(), INTERNET_OPEN_TYPE_PROXY,
                                       ctx.proxy.c_str(), nullptr, 0);
    if (!ctx.internet) return failure(last_error("InternetOpen"));
  }

  handle_closer connection{InternetConnectA(ctx.internet, parts.host, parts.port, parts.user,
                                            parts.password, INTERNET_SERVICE_HTTP, 0, 0)};
  if (!connection.handle) return failure(last_error("InternetConnect"));

  INTERNET_PROXY_INFO proxy{};
  if (!ctx.proxy.empty()) {
    proxy.dwAccessType = INTERNET_OPEN_TYPE_PROXY;
    proxy.lpszProxy = reinterpret_cast<LPCTSTR>(ctx.proxy.c_str());
  }
  InternetSetOptionA(ctx.internet, INTERNET_OPTION_PROXY, &proxy, sizeof proxy);
  InternetSetOptionA(connection.handle, INTERNET_OPTION_PROXY_USERNAME,
                     const_cast<char*>(ctx.proxy_user.c_str()),
                     static_cast<DWORD>(ctx.proxy_user.size() + 1));
  InternetSetOptionA(connection.handle, INTERNET_OPTION_PROXY_PASSWORD,
                     const_cast<char*>(ctx.proxy_password.c_str()),
                     static_cast<DWORD>(ctx.proxy_password.size() + 1));
  // The request inherits these from its connection.
  set_timeout(connection.handle, INTERNET_OPTION_CONNECT_TIMEOUT, options.connect_timeout_ms);
  set_timeout(connection.handle, INTERNET_OPTION_SEND_TIMEOUT, options.stall_timeout_ms);
  set_timeout(connection.handle, INTERNET_OPTION_RECEIVE_TIMEOUT, options.stall_timeout_ms);

  // The fragment is never sent.
  std::string target(parts.path);
  if (const auto hash = target.find('#'); hash != std::string::npos) target.erase(hash);

  const char* accept_types[] = {"Accept: */* \r\n", nullptr};
  handle_closer request{HttpOpenRequestA(connection.handle, "GET", target.c_str(), "HTTP/1.0",
                                         nullptr, accept_types, flags, 0)};
  if (!request.handle) return failure(last_error("HttpOpenRequest"));
  static const char extra_headers[] = "Accept: */*\r\n\r\n";
  if (!HttpSendRequestA(request.handle, extra_headers, sizeof extra_headers - 1, nullptr, 0))
    return failure(last_error("HttpSendRequest"));

  fetch_outcome outcome;
  outcome.fetched = true;
  std::vector<char> chunk;
  try {
    chunk.resize(read_chunk_size(request.handle));
  } catch (const std::bad_alloc&) {
    return failure("out of memory");
  }
  for (;;) {
    const std::size_t room = options.body_cap - std::min(options.body_cap, outcome.body.size());
    if (room == 0) break;  // the cap keeps what has arrived
    if (options.total_timeout_ms > 0 &&
        GetTickCount64() - started >= static_cast<ULONGLONG>(options.total_timeout_ms)) {
      outcome.error = "the fetch took too long";
      break;
    }
    // A read waits for its whole chunk, and one that times out drops what it had
    // gathered; asking only for what has arrived keeps those bytes.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request.handle, &available, 0, 0)) {
      outcome.error = last_error("InternetQueryDataAvailable");
      break;
    }
    if (available == 0) break;  // end of the body
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min({chunk.size(), room, std::size_t{available}}));
    if (!InternetReadFile(request.handle, chunk.data(), ask, &got)) {
      outcome.error = last_error("InternetReadFile");
      break;
    }
    if (got == 0) break;
    try {
      outcome.body.append(chunk.data(), got);
    } catch (const std::bad_alloc&) {
      outcome.error = "out of memory";
      break;
    }
  }
  // request, then connection: members of this scope close in reverse order.
  return outcome;
}

fetch_outcome fetch_streaming(std::string_view, const fetch_options&, const fetch_request&,
                              const head_handler&, const body_handler&) {
  fetch_outcome outcome;
  outcome.error = "streaming fetches are not available yet";
  return outcome;
}

}  // namespace sharelink
