#pragma once
// What a resolution does, told as it happens: each request it makes and each
// value it reads, for a rule writer who wants to see why a rule reads what it
// reads. A resolution given no sink tells nothing and spends nothing on it.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sharelink {

/// One request a resolution made (or, reading saved answers, would have made).
struct traced_request {
  std::string step;     ///< "page" for the share page, else the step's name
  std::string method;   ///< "GET" or "POST"
  /// The address asked for, the extraction code in it shown as "***" (in every
  /// form it takes there: as given and percent-escaped). Local text.
  std::string address;
  /// Which page of a paged step (1 for the first), 0 for a step without pages.
  std::size_t page = 0;
  std::string folder;   ///< the folder being listed ("" at the top), for a listing step
  long status = 0;      ///< 0 when no answer came (or the answer was saved)
  std::size_t bytes = 0;  ///< of the answer's body
  long long milliseconds = 0;
  std::string error;  ///< why the fetch failed, or empty
};

/// One decode step applied to a value.
struct traced_decode {
  std::string step;  ///< its name as a rule writes it: "percent", "size_units", ...
  std::string before;
  std::string after;
};

/// One value read: a field, a value of [values] or [steps.values], a page's
/// cursor, a condition's value or a per-file step's gives.
struct traced_reading {
  /// What was read, as the rule names it: "value sig", "field download_url",
  /// "step list: value token", "step list: more", "fail 1", "file 3: gives
  /// download_url", ...
  std::string what;
  /// How: "pattern 'RE'", "json /a/b", "template 'TEXT'".
  std::string how;
  /// The answer read: "page" or a step's name; empty for a template.
  std::string answer;
  /// How many times the pattern matched, or 1/0 for a pointer that reaches a
  /// value or not.
  std::size_t matches = 0;
  /// The text as the answer holds it (group 1 of the last match, the value at the
  /// pointer, the filled template); nothing when it has none.
  std::optional<std::string> found;
  std::vector<traced_decode> decoded;  ///< in order
  /// The value after the decode steps; nothing when it is missing (a default then
  /// stands in `found`'s place, said in `how`).
  std::optional<std::string> value;
};

/// Where a resolution tells what it does. Its calls come one at a time (a
/// resolution that lists folders side by side holds them in turn), in the order
/// things happen; the texts are local text as read, control characters and all:
/// a sink that prints them makes them safe for its terminal.
class rule_trace {
 public:
  virtual ~rule_trace() = default;
  virtual void request(const traced_request& request) = 0;
  virtual void reading(const traced_reading& reading) = 0;
};

}  // namespace sharelink
