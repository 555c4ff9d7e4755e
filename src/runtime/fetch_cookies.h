#pragma once
// Which cookies of a cookie jar go with a request: for a fetcher whose library can
// list its jar but not say what it would send.
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
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

}  // namespace sharelink
