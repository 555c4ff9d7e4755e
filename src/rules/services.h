#pragma once
// The services the program knows: the built-in rule files and the user's.
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <string_view>
#include <vector>

#include "rules/rule.h"

namespace sharelink {

/// One service and where its rule came from.
struct service_entry {
  service_rule rule;
  std::string source;  ///< "built in", or the rule file's path
};

/// The source text of a built-in service.
inline constexpr std::string_view built_in_source = "built in";

/// The largest rule file read (1 MiB): far above any real rule.
inline constexpr std::size_t largest_rule_file = 1024 * 1024;

/// Services by name. A service added under a name already held takes its place.
class service_registry {
 public:
  /// The services compiled into the program (kuaichuan, pan).
  static service_registry built_in();

  void add(service_rule rule, std::string source);

  /// Reads the rule file at `path` (UTF-8) and adds its service; otherwise the
  /// problem as one line, "FILE:LINE:COLUMN: what is wrong". The rule's warnings
  /// (read_rule), each such a line, go to `warnings` when it is given.
  std::optional<std::string> add_file(const std::string& path, std::vector<std::string>* warnings = nullptr);

  /// add_file for every *.toml file of `folder`, in name order; the problems and
  /// warnings found, each one line. A folder that does not exist holds no
  /// services; one that a folder on the way to it does not let be searched holds
  /// none either, with unsearchable_warning for a problem; one that cannot be read
  /// is a problem.
  std::vector<std::string> add_folder(const std::string& folder);

  /// The service named `name` exactly, or null.
  const service_entry* find(std::string_view name) const;

  /// The service one of whose `addresses` patterns finds `address` (read as the
  /// fetcher reads a pasted address, pasted_address, with backslashes as slashes and
  /// any run of slashes after the scheme's colon as "//").
  /// The service added last is asked first, so a user's rule comes before a
  /// built-in one. Null when none does.
  const service_entry* for_address(std::string_view address) const;

  const std::vector<service_entry>& entries() const { return entries_; }

 private:
  std::vector<service_entry> entries_;
};

/// Whether one of the `addresses` patterns of `rule` finds `address`, read as
/// service_registry::for_address reads it.
bool rule_finds_address(const service_rule& rule, std::string_view address);

/// The folders user rule files are read from, the later ones taking precedence:
/// on Linux /etc/sharelink/services then $XDG_CONFIG_HOME/sharelink/services
/// (~/.config/sharelink/services); on Windows %APPDATA%\sharelink\services.
std::vector<std::string> rule_folders();

/// What asking the system about `path` gave: no error when it exists.
using path_lookup = std::function<std::error_code(const std::string& path)>;

/// The system's answer about `path` (UTF-8): the error of reading its status.
std::error_code look_up_path(const std::string& path);

/// When `path` cannot be looked up because a folder on the way to it may not be
/// searched (permission denied, as another user's home is under sudo -u or
/// setpriv): that folder, the nearest one to `path` that can be looked up. Nothing
/// when `path` exists, does not exist or cannot be looked up for another reason.
std::optional<std::string> unsearchable_folder(const std::string& path, const path_lookup& look_up = look_up_path);

/// The one line that says the configuration and rule files below `folder` (as
/// unsearchable_folder gives it) are not read; the same for every file below it.
std::string unsearchable_warning(const std::string& folder);

/// The built-in services and those of rule_folders(); the problems of bad files,
/// and the warnings of good ones, go to `problems`.
service_registry installed_services(std::vector<std::string>& problems);

/// installed_services, read once for the life of the process (the window's).
const service_registry& process_services();

/// The problems of the rule files that process_services() passed over, each made
/// one_line; reads the services first if that has not happened yet.
const std::vector<std::string>& process_service_problems();

/// The built-in rule files' texts by name (generated from src/rules/services/).
struct built_in_rule {
  std::string_view name;
  std::string_view text;
};
extern const std::vector<built_in_rule> built_in_rules;

}  // namespace sharelink
