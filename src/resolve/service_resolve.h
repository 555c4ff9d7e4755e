#pragma once
// The one way a share address becomes a reading, for the window and the command:
// the service's rule, the address and the fetch options.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "reading/rule_reading.h"
#include "reading/rule_trace.h"
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
  /// The kind of failure, when the rule's reading tells it: a [[fail]] of the
  /// service's that held, a share page answered 404 or 410 (gone), an extraction
  /// code needed and not known (password), or a page that does not read (page).
  /// Nothing when the failure is the fetch's (see `outcome`) or there is none.
  std::optional<error_kind> failure;
};

/// Fetches the share page at `address` (local text) and each step of the rule in
/// turn (a paged step page after page), reads the files the listing holds, lists
/// its folders side by side, runs the steps for each file, and reads the fields. A
/// step's templates are filled as their places want (see template_place); the
/// steps stop at the first fetch that fails or answers outside 200-299, whose
/// values are not all found, or whose answer a [[fail]] of the rule's finds (read.error
/// then says which, `failure` its kind). A step for a file that fails fails that
/// file only (its `error`). A relative download address is made absolute against
/// the address of the answer it was read from; one that is then not http or https
/// is its file's error. The rule's request settings (with_request) apply to every
/// fetch, and the user's cookies go to the share address's site only (for_share).
/// Nothing is fetched when refuse_access refuses. Never throws.
/// Each fetch goes through `fetch` when it is given (a caller that waits and retries),
/// else fetch_page_reporting.
using page_fetcher = std::function<fetch_outcome(std::string_view address, const fetch_options&)>;
service_resolution resolve_service(const service_rule& rule, std::string_view address, const fetch_options& options,
                                   const page_fetcher& fetch = {}, std::string_view password = {});

/// What a resolution goes by besides the rule and the address.
struct resolve_settings {
  fetch_options fetch;
  page_fetcher fetcher;  ///< empty: fetch_page_reporting
  /// The share's extraction code (local text), the rule's {password}; nothing when
  /// none is known.
  std::optional<std::string> password;
  /// Told each request and each value read, when set (see rule_trace).
  rule_trace* trace = nullptr;
  /// Answers to read instead of fetching, when set (a share page and its steps
  /// saved): by step name ("page" for the share page), the bodies of its pages in
  /// order. A step given one answer reads it as its only page, and a step for each
  /// file reads it for every file; a step given none is an error. Folders are not
  /// listed.
  const std::map<std::string, std::vector<std::string>>* saved = nullptr;
  /// The folders listed at once (and the steps for files run at once), each still
  /// waiting for its host's place when `fetcher` waits for one.
  std::size_t at_once = 4;
};

/// resolve_service with everything a resolution goes by.
service_resolution resolve_service(const service_rule& rule, std::string_view address,
                                   const resolve_settings& settings);

/// `options` with the rule's request settings: its user agent, its headers, which
/// go only to the host each request names (see fetch_options::headers), and its
/// [limits].
fetch_options with_request(const service_rule& rule, fetch_options options);


}  // namespace sharelink
