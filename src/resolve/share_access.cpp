#include "resolve/share_access.h"

#include <ctime>

#include "runtime/fetch_cookies.h"
#include "runtime/registrable_domain.h"

namespace sharelink {

std::optional<failure> refuse_access(const service_rule& rule, std::string_view address,
                                            const fetch_options& options) {
  const std::string site = site_of_address(address);
  if (options.user_cookies) {
    // A step's host is written out in the rule (the reader checks it): a stranger's
    // rule could otherwise send the user's logins, or what they open, elsewhere.
    for (const step_rule& step : rule.steps) {
      const fetch_address prepared = prepare_fetch_address(step.address);
      const std::string step_site = site_of_address(step.address);
      if (!site.empty() && step_site == site) continue;
      std::string host = prepared.url.substr(prepared.url.find("://") + 3);
      host = host.substr(0, host.find_first_of("/?#"));
      return failure{error_kind::address,
                            "with --cookies, the step " + step.name + " may not go to " + host +
                                ", which is not of the share's site " + (site.empty() ? "(none)" : site)};
    }
  }
  if (rule.needs_login) {
    const fetch_address share = prepare_fetch_address(address);
    const bool cookie_goes = options.user_cookies && share.error.empty() &&
                             !cookie_header_from_jar(*options.user_cookies, share.url, std::time(nullptr)).empty();
    if (!cookie_goes)
      return failure{error_kind::login, "the share needs a login: give --cookies FILE, a cookies.txt of a "
                                                  "browser logged in to " + (site.empty() ? "the service" : site)};
  }
  return std::nullopt;
}

fetch_options for_share(std::string_view address, fetch_options options) {
  options.user_cookie_site = options.user_cookies ? site_of_address(address) : std::string();
  return options;
}

}  // namespace sharelink
