#pragma once
// The cookies of the process, kept here for every fetcher (not in its library), and
// the user's cookies file: which cookies go with a request.
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sharelink {

/// The Cookie header value for the prepared address `url` (see prepare_fetch_address)
/// from `jar`, cookies in the Netscape cookie-file form, one a line ("[#HttpOnly_]DOMAIN
/// \t TAILMATCH \t PATH \t SECURE \t EXPIRES \t NAME \t VALUE"). A cookie goes when
/// its domain is the host (or, with TAILMATCH "TRUE", a parent domain of it; case
/// ignored), its path is the request's path or a folder above it, it is not secure or
/// the address is https, and it has not expired at `now` (EXPIRES 0: for the session).
/// "NAME=VALUE" pairs joined by "; ", longer paths first; empty when none goes.
std::string cookie_header_from_jar(const std::vector<std::string>& jar, std::string_view url,
                                   std::time_t now);

/// The jar line a Set-Cookie value received for the prepared address `url` makes, for
/// a fetcher that keeps its own jar: EXPIRES 0 (the cookie lasts as long as the
/// process), or 1 when Max-Age or Expires says it has expired (it then removes the
/// cookie of its domain, path and name). Nothing when the cookie is refused: no
/// name, a tab or control character, or a Domain that is not the host's.
std::optional<std::string> jar_line_from_set_cookie(std::string_view set_cookie, std::string_view url,
                                                    std::time_t now);

/// Puts `line` (see jar_line_from_set_cookie) into `jar` in place of the cookie of the
/// same domain, path and name; an expired one only removes that cookie.
void store_in_jar(std::vector<std::string>& jar, const std::string& line);

/// The cookies the servers set, for the life of the process; every fetch of the
/// process sends them back and keeps what its answers set. Safe to use from any thread.
class cookie_jar {
 public:
  /// The Cookie header value for the prepared address `url` (see cookie_header_from_jar):
  /// the jar's cookies and, when the host is of the site `user_site` (a registrable
  /// domain), those of `user` (jar lines); a user's cookie of the same domain, path
  /// and name as one a server set since is left out. Without `user_site` no user's
  /// cookie goes.
  std::string header_for(std::string_view url, const std::vector<std::string>* user, std::string_view user_site,
                         std::time_t now) const;
  /// Keeps what the Set-Cookie value `set_cookie`, received for `url`, sets.
  void receive(std::string_view set_cookie, std::string_view url, std::time_t now);

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

/// The jar of the process.
cookie_jar& process_cookie_jar();

/// `headers` (lines "Name: value", as a request or response head is written) with
/// the value of every cookie in its Cookie and Set-Cookie lines written "***", the
/// names and a Set-Cookie's attributes kept: what a trace may show of them.
std::string mask_cookie_values(std::string_view headers);

/// Where a cookies file is not one: its line (from 1) and what is wrong there.
struct cookie_file_problem {
  int line = 0;
  std::string what;
};

/// The cookies of a cookies file as browsers' export add-ons and curl write it (the
/// Netscape form), as jar lines: one cookie a line, seven fields separated by tabs
/// (DOMAIN, TAILMATCH TRUE or FALSE, PATH, SECURE TRUE or FALSE, EXPIRES in seconds
/// since 1970, 0 for a session cookie, NAME, VALUE; a line of six has an empty
/// value), "#HttpOnly_" before an HttpOnly cookie's domain; other lines starting
/// with '#', and blank ones, are comments. CRLF line ends and a UTF-8 byte-order mark
/// are taken. Any other line is a problem: a file is the user's and taken whole.
std::variant<std::vector<std::string>, cookie_file_problem> read_cookie_file(std::string_view text);

}  // namespace sharelink
