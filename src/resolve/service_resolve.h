#pragma once
// The one way a share address becomes a reading, for the window and the command:
// the service's rule, the address and the fetch options.
#include <functional>
#include <string>
#include <string_view>

#include "reading/rule_reading.h"
#include "resolve/share_access.h"
#include "runtime/fetch.h"

namespace sharelink {

/// What resolving one address gave.
struct service_resolution {
  rule_reading read;  ///< the reading of every answer that arrived; its error, if any
  /// The last fetch made (the share page's, or the step's that failed or came last),
  /// its body left empty: the answers are read already.
  fetch_outcome outcome;
  /// The size of that fetch's body before it was emptied.
  std::size_t body_size = 0;
  /// The step whose fetch or value failed, or empty (the share page, or none).
  std::string failed_step;
};

/// Fetches the share page at `address` (local text) and each step of the rule in
/// turn, then reads the answers with the rule (read_with_rule). A step's address is
/// its template with each value percent-escaped (as UTF-8) where it stands, and
/// `password`, the extraction code, as {password}; the
/// steps stop at the first fetch that fails or answers outside 200-299, or whose
/// values are not all found (read.error then says which). The rule's request
/// settings (with_request) apply to every fetch, and the user's cookies go to the
/// share address's site only (for_share). Nothing is fetched when refuse_access
/// refuses. Never throws.
/// Each fetch goes through `fetch` when it is given (a caller that waits and retries),
/// else fetch_page_reporting.
using page_fetcher = std::function<fetch_outcome(std::string_view address, const fetch_options&)>;
service_resolution resolve_service(const service_rule& rule, std::string_view address, const fetch_options& options,
                                   const page_fetcher& fetch = {}, std::string_view password = {});

/// `options` with the rule's request settings: its user agent, its headers, which
/// go only to the host each request names (see fetch_options::headers), and its
/// [limits].
fetch_options with_request(const service_rule& rule, fetch_options options);

/// A step's address: `address_template` with each "{NAME}" replaced by the value
/// NAME, percent-escaped byte by byte except for letters, digits and "-._~".
std::string fill_step_address(std::string_view address_template,
                              const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace sharelink
