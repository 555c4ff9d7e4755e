#pragma once
// What kind of error an address or a file met, for callers that act on it (JSON's
// "error_kind"): one word, stable across versions, beside the error's text.
#include <optional>
#include <string_view>

#include "runtime/fetch.h"

namespace sharelink::cli {

enum class error_kind {
  usage,        ///< the command line itself
  address,      ///< the address cannot be fetched as given (no scheme, no service, characters)
  network,      ///< no answer: refused, host not found, connection broken
  timeout,      ///< a time limit ran out
  tls,          ///< the certificate or the TLS handshake
  http,         ///< an answer with a status outside 200-299, or a redirect refused
  page,         ///< the page arrived but does not give what is needed
  download,     ///< a file's download failed (writing, the server's answer, sizes)
  checksum,     ///< a downloaded file's MD5 is not the page's
  interrupted,  ///< Ctrl+C
  password,     ///< the share needs an extraction code, or the one given was not accepted
  gone,         ///< the share is gone (deleted, expired, or its page answers 404 or 410)
  login,        ///< the share needs a login
};

/// The word JSON gives for `kind` ("network", ...).
std::string_view error_kind_name(error_kind kind);

/// The kind of a page fetch that failed (not fetched, or a status outside
/// 200-299); nothing when it did not fail.
std::optional<error_kind> fetch_error_kind(const fetch_outcome& outcome);

/// The kind of a failure a service's rule names ("page", "password", "gone",
/// "login"); `page` for another word.
error_kind rule_error_kind(std::string_view name);

/// The kind of a download's error text (as download_file gives it).
error_kind download_error_kind(std::string_view error);

}  // namespace sharelink::cli
