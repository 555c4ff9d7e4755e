#pragma once
// --explain: what each resolution asks for and reads, line by line on standard error.
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

#include "reading/rule_trace.h"

namespace sharelink::cli {

/// Writes each request and each reading a resolution tells of to `err`, one line
/// each through write_line, beginning with "explain: ":
///   explain: page: GET https://… -> 200 OK, 612 bytes, 3 ms
///   explain: step list: value token: pattern '…' on page, 1 match: "abc123"
///   explain:   json_string: "abc\u0031" -> "abc1"
/// A text past a few hundred characters is cut, with "…" after it. The extraction
/// code (`password`, UTF-8), when known, is shown as "***" wherever it would stand,
/// as given and percent-escaped. Resolutions running side by side may share one.
class explain_sink : public rule_trace {
 public:
  explain_sink(std::ostream& err, std::optional<std::string> password = std::nullopt);

  void request(const traced_request& request) override;
  void reading(const traced_reading& reading) override;

 private:
  void line(std::string text);
  std::ostream& err_;
  std::optional<std::string> password_;
  std::mutex mutex_;
};

}  // namespace sharelink::cli
