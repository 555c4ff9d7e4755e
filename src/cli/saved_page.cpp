#include "cli/saved_page.h"

#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "cli/lookup.h"
#include "cli/process.h"

namespace sharelink::cli {
namespace {

// Standard input up to `most` bytes, `cut` telling whether it holds more, or
// nothing with the reason.
std::optional<std::string> read_standard_input(std::istream& in, std::size_t most, bool& cut,
                                               std::string& reason) {
  std::string bytes;
  char buffer[65536];
  while (bytes.size() <= most && in.read(buffer, sizeof buffer).gcount() > 0)
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  cut = bytes.size() > most;
  if (cut) bytes.resize(most);
  if (in.bad()) {
    reason = "read error";
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

int resolve_page_file(session& run, std::istream& in) {
  const settings& s = run.chosen;
  // A saved page is held to the size a fetched one is (a device or an endless pipe
  // would otherwise fill the memory).
  const std::size_t most = s.lookup.fetch.body_cap;
  std::string reason;
  bool cut = false;
  const std::optional<std::string> page = *s.page_file == "-"
                                              ? read_standard_input(in, most, cut, reason)
                                              : read_whole_file(*s.page_file, most, cut, reason);
  if (!page) {
    // Nothing was read, so there is nothing to print but the reason.
    if (!s.quiet) write_line(run.err, "sharelink: cannot read " + *s.page_file + ": " + reason);
    return run.finish(1);
  }
  // Each answer is read as far as it goes, like a fetched one cut at the same
  // size, and the cut is the error, named as a fetch names it.
  const std::string too_large = "the page is larger than " + std::to_string(most) + " bytes; stopped there";
  std::optional<std::string> cut_error;
  if (cut) cut_error = too_large;
  std::vector<std::pair<std::string, std::string>> step_answers;
  for (const auto& [step, file] : s.step_pages) {
    bool step_cut = false;
    std::optional<std::string> answer = read_whole_file(file, most, step_cut, reason);
    if (!answer) {
      if (!s.quiet) write_line(run.err, "sharelink: cannot read " + file + ": " + reason);
      return run.finish(1);
    }
    if (step_cut && !cut_error) cut_error = "step " + step + ": " + too_large;
    step_answers.emplace_back(step, std::move(*answer));
  }
  saved_reading more;
  more.password = s.lookup.password;
  more.trace = s.lookup.trace;
  resolution r = resolve_saved_page(*page, *s.lookup.registry().find(*s.lookup.forced_service), step_answers,
                                    s.lookup.fetch.cancel, more);
  if (cut_error) {
    r.error = cut_error;
    r.failure_kind = error_kind::page;
  }
  run.emit(run.complete(std::move(r)));
  if (run.interrupted.load()) {
    const int status = run.finish(interrupted_status());
    if (!s.quiet) write_line(run.err, "sharelink: interrupted");
    return status;
  }
  return run.finish(run.all_well() ? 0 : 1);
}

}  // namespace sharelink::cli
