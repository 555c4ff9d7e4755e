#pragma once
// What kind of failure a fetch, a download or a reading met: one word, stable across
// versions, that travels beside the failure's text to JSON's "error_kind" and the
// exit status. The kind is decided where the failure happens, never read back from
// its text.
#include <string>
#include <string_view>

namespace sharelink {

enum class error_kind {
  usage,        ///< the command line itself
  address,      ///< refused before anything is sent (no scheme, no service, characters)
  network,      ///< no answer: refused, host not found, connection broken
  timeout,      ///< a time limit ran out
  tls,          ///< the certificate or the TLS handshake
  http,         ///< an answer with a status outside 200-299, a redirect refused, a wait refused
  page,         ///< the page arrived but does not give what is needed
  download,     ///< a file's download failed (writing, the server's answer, sizes)
  checksum,     ///< a downloaded file's MD5 is not the page's
  interrupted,  ///< Ctrl+C, or the fetch was cancelled
  password,     ///< the share needs an extraction code, or did not take the one given
  gone,         ///< the share is no more (removed, expired)
  login,        ///< the share is seen only when logged in
};

/// The word JSON gives for `kind` ("network", ...).
std::string_view error_kind_name(error_kind kind);

/// A failure: its kind, and one line that says what happened.
struct failure {
  error_kind kind = error_kind::page;
  std::string message;
  bool operator==(const failure&) const = default;
};

}  // namespace sharelink
