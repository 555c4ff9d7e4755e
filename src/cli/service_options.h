#pragma once
// The command's options that name services: --service, --rules, --list-services
// and the steps' answers of --page.
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rules/services.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace sharelink::cli {

struct settings;

/// The service options as typed.
struct service_options {
  std::string service;             ///< --service NAME
  std::vector<std::string> rules;  ///< --rules FILE, each time given
  std::vector<std::string> pages;  ///< --page FILE and --page STEP=FILE
  bool list = false;               ///< --list-services
};

/// Adds --service, --rules, --list-services and --page to `app`; returns --page.
CLI::Option* add_service_options(CLI::App& app, service_options& typed);

/// Why the service options cannot be used: a mistake on the command line, to be
/// said with a pointer to --help, or --rules files that cannot be used, a line
/// each, said as they stand.
struct service_options_problem {
  std::string what;
  bool usage = true;
};

/// Reads the rule folders and the --rules files into `s`'s registry (each bad
/// file of the folders, and each warning, one line on `err` unless `quiet`), then
/// checks the service and splits the pages: the reason when they cannot be used.
/// A --rules file that cannot be read is such a reason. With --page and no
/// --service, the service of the one --rules file reads the page. A problem that
/// is `said` already (the configuration's warning of a folder that may not be
/// searched) is not said again.
std::optional<service_options_problem> finish_service_options(const service_options& typed, settings& s,
                                                              std::ostream& err, bool quiet,
                                                              std::string_view said = {});

/// The --list-services lines: name, title, source and then each of the service's
/// `addresses` patterns, separated by tabs (each field made one_line, so that no tab
/// or line break of a rule's text splits it).
std::string service_list(const service_registry& services);

}  // namespace sharelink::cli
