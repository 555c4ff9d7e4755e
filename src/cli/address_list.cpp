#include "cli/address_list.h"

#include <algorithm>
#include <istream>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "cli/batch.h"
#include "cli/lookup.h"
#include "cli/process.h"
#include "runtime/text.h"

namespace sharelink::cli {
namespace {

// The longest line of standard input taken as an address: far beyond any address,
// and it keeps a stream without line ends (a device, a binary file) from filling
// the memory.
constexpr std::size_t longest_input_line = 1024 * 1024;

/// How reading standard input ended, once it did; set by the thread that reads it.
struct input_end {
  std::mutex mutex;
  std::optional<std::string> failure;  ///< why the input could not be read to its end
};

// The next line of `in` without its line end into `line`: false at the end of the
// input, or when it cannot be read (then `failure` says why).
bool next_input_line(std::istream& in, std::string& line, input_end& end) {
  line.clear();
  std::streambuf* buffer = in.rdbuf();
  const auto fail = [&](std::string reason) {
    std::lock_guard lock(end.mutex);
    end.failure = std::move(reason);
    return false;
  };
  try {
    for (;;) {
      const int c = buffer->sbumpc();
      if (c == std::char_traits<char>::eof()) return !line.empty();
      if (c == '\n') return true;
      if (line.size() == longest_input_line)
        return fail("a line is longer than " + std::to_string(longest_input_line) + " bytes");
      line.push_back(static_cast<char>(c));
    }
  } catch (const std::ios_base::failure& e) {
    return fail(e.code() ? e.code().message() : std::string("read error"));
  } catch (const std::exception&) {
    return fail("read error");
  }
}

// Where the batch takes its addresses from: the command line's, or else the lines
// of `in` (which the reader may go on waiting for after the batch, hence `input` is
// shared).
std::function<std::optional<std::string>()> address_source(session& run, std::istream& in,
                                                           const std::shared_ptr<input_end>& input) {
  const std::vector<std::string>& given = run.chosen.addresses;
  if (!given.empty()) {
    run.expect(given.size());
    return [list = given, at = std::size_t{0}]() mutable -> std::optional<std::string> {
      if (at == list.size()) return std::nullopt;
      return list[at++];
    };
  }
  if (!run.chosen.quiet && standard_input_is_terminal())
    write_line(run.err, "sharelink: reading addresses from standard input, one a line, until end of input");
  return [&in, input, first_line = true]() mutable -> std::optional<std::string> {
    std::string line;
    while (next_input_line(in, line, *input)) {
      // A byte-order mark some editors put at the start of a UTF-8 file.
      if (first_line && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
      // One of UTF-16 (Notepad's "Unicode", PowerShell's redirection) would make every
      // line a wrong address: the input is refused, saying what to do.
      if (first_line && (line.starts_with("\xFF\xFE") || line.starts_with("\xFE\xFF"))) {
        std::lock_guard lock(input->mutex);
        input->failure = "it is UTF-16 text; save it as UTF-8";
        return std::nullopt;
      }
      first_line = false;
      // Leading and trailing blanks and tabs, and the CR of a CRLF line end, are no
      // part of an address.
      std::string address(trim(line, " \t\r"));
      if (!address.empty()) return address;
    }
    return std::nullopt;
  };
}

}  // namespace

int resolve_address_list(session& run, std::istream& in) {
  const settings& s = run.chosen;
  // Shared with the reader, which may outlive this call while it waits for input.
  const auto input = std::make_shared<input_end>();
  // Addresses are read on a thread of their own, and a tied stream would flush the
  // output from there while this thread writes it.
  in.tie(nullptr);
  batch_hooks hooks;
  hooks.next = address_source(run, in, input);
  hooks.work = [&](const std::string& address) { return run.complete(run.resolve(address)); };
  hooks.emit = [&](resolution&& r) { return run.emit(std::move(r)); };
  hooks.tick = [&](std::size_t read, bool all_in) { run.tick(read, all_in); };
  // No more workers than there are addresses, when that is known: a single address
  // starts one fetching thread, not four.
  const int workers = s.addresses.empty()
                          ? s.jobs
                          : static_cast<int>(std::min<std::size_t>(s.addresses.size(), static_cast<std::size_t>(s.jobs)));
  const batch_end end = run_batch(workers, run.interrupted, std::move(hooks));
  if (end == batch_end::interrupted) {
    const int status = run.finish(interrupted_status());
    if (!s.quiet) write_line(run.err, "sharelink: interrupted");
    return status;
  }
  if (end == batch_end::finished) {
    std::lock_guard lock(input->mutex);
    // Input that ends in an error is not a list read to its end.
    if (input->failure) {
      const int status = run.finish(1);
      if (!s.quiet) write_line(run.err, "sharelink: cannot read standard input: " + *input->failure);
      return status;
    }
  }
  return run.finish(run.all_well() ? 0 : 1);
}

}  // namespace sharelink::cli
