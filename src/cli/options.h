#pragma once
// The command's options: what the command line asks for, read and checked.
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "cli/lookup.h"
#include "runtime/retry_policy.h"

namespace sharelink::cli {

enum class output_form { labelled, json, aria2, md5sums };

/// Everything the command line asks for, checked.
struct settings {
  lookup_settings lookup;
  output_form form = output_form::labelled;
  bool every_file = false;  ///< --all
  bool download = false;
  bool quiet = false;
  int jobs = 4;
  retry_policy retry;    ///< --retries, --retry-max-wait
  int max_per_host = 0;  ///< --max-per-host; 0: no limit beyond --jobs
  std::string output_dir;
  std::string archive;        ///< --archive FILE (UTF-8); empty: none
  std::string cookies_file;   ///< --cookies FILE (UTF-8), read into lookup.fetch; empty: none
  bool list_archive = false;  ///< --list-archive
  bool check = false;         ///< --check: compare --output-dir with the pages
  bool check_rules = false;   ///< --check-rules: `addresses` are rule files to check
  bool explain = false;       ///< --explain: each request and reading on standard error
  std::string aria2_rpc;      ///< --aria2-rpc URL; empty: none
  std::string aria2_secret;   ///< --aria2-secret TOKEN; never printed
  std::optional<std::string> page_file;
  /// --page STEP=FILE: the files holding the answers of a service's steps.
  std::vector<std::pair<std::string, std::string>> step_pages;
  std::vector<std::string> addresses;
};

/// The most addresses resolved at once; a larger --jobs is taken as this.
inline constexpr int most_jobs = 64;

/// Seconds as decimal text ("20", "0.5", "1e1") to whole milliseconds, rounded up so
/// that a tiny positive time-out does not become "no time-out". Nothing for text
/// that is not a finite number above zero. Independent of the process locale.
std::optional<long> timeout_ms(const std::string& text);

/// Reads the cookies file at `path` (UTF-8, see read_cookie_file) into
/// `fetch.user_cookies`; otherwise one line, "FILE: reason" or "FILE:LINE: what is wrong".
std::optional<std::string> load_cookies(const std::string& path, fetch_options& fetch);

/// Reads `args` (without the program name). Either the settings, or the exit status
/// the command ends with at once: 0 after --help or --version (written to `out`), 2
/// for a usage error (explained on `err`).
std::variant<settings, int> parse_options(const std::vector<std::string>& args,
                                           std::ostream& out, std::ostream& err);

}  // namespace sharelink::cli
