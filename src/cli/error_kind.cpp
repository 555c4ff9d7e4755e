#include "cli/error_kind.h"

namespace sharelink::cli {
namespace {

// The fetcher and the downloader tell what went wrong in their error texts; these
// are the beginnings that name a kind. The texts are this program's own, and the
// command's tests hold each kind to a real failure.
struct text_kind {
  std::string_view start;
  error_kind kind;
};

// What the fetcher says, for a page and a download alike.
constexpr text_kind fetch_texts[] = {
    {"timed out", error_kind::timeout},
    {"TLS ", error_kind::tls},
    {"cannot read the certificate authorities", error_kind::tls},
    {"redirect", error_kind::http},
    {"too many redirects", error_kind::http},
    {"the server asks to wait", error_kind::http},
    {"the server still asks to wait", error_kind::http},
    {"interrupted", error_kind::interrupted},
    // Refused before anything is sent.
    {"empty address", error_kind::address},
    {"address has no", error_kind::address},
    {"unsupported scheme", error_kind::address},
    {"invalid host name", error_kind::address},
    {"malformed address", error_kind::address},
    // No answer, or none that could be read.
    {"connection refused", error_kind::network},
    {"connection closed", error_kind::network},
    {"connection broken", error_kind::network},
    {"host not found", error_kind::network},
    {"cannot connect", error_kind::network},
    {"proxy not found", error_kind::network},
    {"the proxy failed", error_kind::network},
    {"receive failed", error_kind::network},
    {"send failed", error_kind::network},
    {"the server closed the connection", error_kind::network},
    {"the answer is not HTTP", error_kind::network},
    {"response headers too large", error_kind::network},
};

// What only the downloader says; anything else it says is of kind `download`.
constexpr text_kind download_texts[] = {
    {"MD5 mismatch", error_kind::checksum},
    {"the server answered", error_kind::http},
};

template <std::size_t n>
std::optional<error_kind> kind_by_start(std::string_view text, const text_kind (&table)[n]) {
  for (const text_kind& entry : table)
    if (text.starts_with(entry.start)) return entry.kind;
  return std::nullopt;
}

}  // namespace

std::string_view error_kind_name(error_kind kind) {
  switch (kind) {
    case error_kind::usage: return "usage";
    case error_kind::address: return "address";
    case error_kind::network: return "network";
    case error_kind::timeout: return "timeout";
    case error_kind::tls: return "tls";
    case error_kind::http: return "http";
    case error_kind::page: return "page";
    case error_kind::download: return "download";
    case error_kind::checksum: return "checksum";
    case error_kind::interrupted: return "interrupted";
    case error_kind::password: return "password";
    case error_kind::gone: return "gone";
    case error_kind::login: return "login";
  }
  return "download";
}

std::optional<error_kind> fetch_error_kind(const fetch_outcome& outcome) {
  if (outcome.cut == fetch_cut::interrupted) return error_kind::interrupted;
  if (outcome.cut == fetch_cut::stalled || outcome.cut == fetch_cut::out_of_time) return error_kind::timeout;
  if (!outcome.fetched) {
    if (auto kind = kind_by_start(outcome.error, fetch_texts)) return kind;
    // An answer whose body was cut short is still an answer with its status.
    if (outcome.cut == fetch_cut::capped) return error_kind::page;
    return outcome.status != 0 && outcome.cut == fetch_cut::none ? error_kind::http : error_kind::network;
  }
  if (outcome.status < 200 || outcome.status > 299) return error_kind::http;
  return std::nullopt;
}

error_kind rule_error_kind(std::string_view name) {
  for (const error_kind kind : {error_kind::password, error_kind::gone, error_kind::login})
    if (name == error_kind_name(kind)) return kind;
  return error_kind::page;
}

error_kind download_error_kind(std::string_view error) {
  if (auto kind = kind_by_start(error, download_texts)) return *kind;
  return kind_by_start(error, fetch_texts).value_or(error_kind::download);
}

}  // namespace sharelink::cli
