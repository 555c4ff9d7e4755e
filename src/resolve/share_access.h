#pragma once
// Who may ask for a share, and with what: the user's login (cookies) and a rule
// that must not carry it to another site.
#include <optional>
#include <string>
#include <string_view>

#include "rules/rule.h"
#include "runtime/error_kind.h"
#include "runtime/fetch.h"

namespace sharelink {

/// Checked before anything is sent for the share at `address` (local text) with
/// `options`: with the user's cookies (fetch_options::user_cookies), every step of
/// the rule must go to a host of the share address's site (its registrable domain),
/// and a rule that says needs_login needs a cookie of the user's that goes with a
/// request for the share address (kind login; the other is of kind address).
/// Nothing when the share may be asked for.
std::optional<failure> refuse_access(const service_rule& rule, std::string_view address,
                                            const fetch_options& options);

/// `options` with the user's cookies let go to the hosts of the site of the share
/// address `address` (local text), and nowhere else.
fetch_options for_share(std::string_view address, fetch_options options);

}  // namespace sharelink
