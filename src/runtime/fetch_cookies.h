#pragma once
// Which cookies of a cookie jar go with a request: for a fetcher whose library can
// list its jar but not say what it would send.
#include <ctime>
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

}  // namespace sharelink
