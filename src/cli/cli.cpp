#include "cli/cli.h"

#include <atomic>
#include <memory>
#include <variant>

#include "cli/address_list.h"
#include "cli/archive.h"
#include "cli/aria2_rpc.h"
#include "cli/explain.h"
#include "cli/options.h"
#include "cli/process.h"
#include "cli/rule_check.h"
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
  if (s.check_rules) return check_rule_files(s.addresses, out, err);
  static const bool interrupts_caught = (catch_interrupts(interrupted), true);
  (void)interrupts_caught;
  s.lookup.fetch.cancel = &interrupted;

  // The archive is opened only by a run that reads or writes it: a refused one ends
  // the run before anything is fetched.
  std::unique_ptr<download_archive> archive;
  const bool uses_archive = s.list_archive || s.download || s.form == output_form::aria2 || !s.aria2_rpc.empty();
  if (!s.archive.empty() && uses_archive) {
    std::string problem;
    archive = download_archive::open(s.archive, s.list_archive, &interrupted, problem);
    if (!archive) {
      err << "sharelink: " << problem << '\n';
      return 2;
    }
  }
  if (s.list_archive) return print_archive(*archive, s.form == output_form::json, out, err);
  std::unique_ptr<aria2_rpc> rpc;
  if (!s.aria2_rpc.empty()) rpc = std::make_unique<aria2_rpc>(s.aria2_rpc, s.aria2_secret, s.lookup.fetch);

  std::unique_ptr<explain_sink> explaining;
  if (s.explain) {
    explaining = std::make_unique<explain_sink>(err, s.lookup.password);
    s.lookup.trace = explaining.get();
  }
  // A user typing addresses at the terminal sees each answer as it comes; a line
  // redrawn in place would run into what they type, or into what --explain says.
  const bool typed = s.addresses.empty() && !s.page_file && standard_input_is_terminal();
  const progress_display::mode display_mode =
      s.quiet ? progress_display::mode::silent
              : standard_error_is_terminal() && !typed && !s.explain ? progress_display::mode::live
                                                                     : progress_display::mode::lines;
  session one_run(s, interrupted, out, err, display_mode, standard_error_width());
  one_run.archive = archive.get();
  one_run.rpc = rpc.get();
  return s.page_file ? resolve_page_file(one_run, in) : resolve_address_list(one_run, in);
}

}  // namespace sharelink::cli
