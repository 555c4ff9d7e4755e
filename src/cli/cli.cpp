#include "cli/cli.h"

#include <atomic>
#include <variant>

#include "cli/address_list.h"
#include "cli/options.h"
#include "cli/process.h"
#include "cli/saved_page.h"
#include "cli/session.h"

namespace sharelink::cli {
namespace {

// Set by Ctrl+C; every fetch and wait watches it.
std::atomic<bool> interrupted{false};

}  // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err) {
  std::variant<settings, int> parsed = parse_options(args, out, err);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  settings& s = std::get<settings>(parsed);
  static const bool interrupts_caught = (catch_interrupts(interrupted), true);
  (void)interrupts_caught;
  s.lookup.fetch.cancel = &interrupted;

  // A user typing addresses at the terminal sees each answer as it comes; a line
  // redrawn in place would run into what they type.
  const bool typed = s.addresses.empty() && !s.page_file && standard_input_is_terminal();
  const progress_display::mode display_mode =
      s.quiet ? progress_display::mode::silent
              : standard_error_is_terminal() && !typed ? progress_display::mode::live
                                                       : progress_display::mode::lines;
  session one_run(s, interrupted, out, err, display_mode, standard_error_width());
  return s.page_file ? resolve_page_file(one_run, in) : resolve_address_list(one_run, in);
}

}  // namespace sharelink::cli
