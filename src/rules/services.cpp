#include "rules/services.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <variant>

#include "codec/one_line.h"
#include "runtime/fetch.h"
#include "runtime/pattern.h"

namespace sharelink {
namespace {

/// The address as service_registry::for_address reads it.
std::string normalised_address(std::string_view address) {
  std::string text = pasted_address(address);
  std::replace(text.begin(), text.end(), '\\', '/');
  if (const std::size_t colon = scheme_length(text); colon > 0) {
    const std::size_t after = text.find_first_not_of('/', colon + 1);
    const std::size_t slashes = (after == std::string::npos ? text.size() : after) - colon - 1;
    if (slashes > 0) text.replace(colon + 1, slashes, "//");
  }
  return text;
}

bool finds(const std::string& pattern, const std::string& address) {
  pattern_object object = regex_create();
  if (!regex_compile(object, pattern)) return false;
  bool gave_up = false;
  search_result match;
  const bool found = regex_match_at(object, address, 0, match) == match_at_outcome::matched ||
                     !regex_search_all(object, address, gave_up).empty();
  regex_release(object);
  return found;
}

}  // namespace

service_registry service_registry::built_in() {
  service_registry registry;
  for (const built_in_rule& rule : built_in_rules) {
    auto read = read_rule(rule.text);
    // The built-in files are checked by the tests; one that does not read is left out.
    if (auto* service = std::get_if<service_rule>(&read)) registry.add(std::move(*service), std::string(built_in_source));
  }
  return registry;
}

void service_registry::add(service_rule rule, std::string source) {
  for (service_entry& entry : entries_) {
    if (entry.rule.name != rule.name) continue;
    entries_.erase(entries_.begin() + (&entry - entries_.data()));
    break;
  }
  entries_.push_back({std::move(rule), std::move(source)});
}

std::optional<std::string> service_registry::add_file(const std::string& path, std::vector<std::string>* warnings) {
  const std::filesystem::path file = std::filesystem::u8path(path);
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) return path + ": a folder, not a rule file";
  if (!std::filesystem::exists(file, error) && !error) return path + ": no such file";
  std::ifstream in(file, std::ios::binary);
  if (!in) return path + ": cannot be read";
  // Read in pieces up to one byte past the limit, so that a device or a pipe that
  // never ends costs no more than a rule file may.
  std::string text;
  char piece[65536];
  while (text.size() <= largest_rule_file) {
    in.read(piece, sizeof piece);
    text.append(piece, static_cast<std::size_t>(in.gcount()));
    if (!in) break;
  }
  if (in.bad()) return path + ": cannot be read";
  if (text.size() > largest_rule_file)
    return path + ": larger than " + std::to_string(largest_rule_file) + " bytes; not a rule file";
  std::vector<rule_problem> found;
  auto read = read_rule(text, &found);
  if (auto* problem = std::get_if<rule_problem>(&read)) return describe(*problem, path);
  if (warnings != nullptr)
    for (const rule_problem& warning : found) warnings->push_back(describe(warning, path));
  add(std::move(std::get<service_rule>(read)), path);
  return std::nullopt;
}

std::vector<std::string> service_registry::add_folder(const std::string& folder) {
  std::vector<std::string> problems;
  std::error_code error;
  std::vector<std::filesystem::path> files;
  std::filesystem::directory_iterator items(std::filesystem::u8path(folder), error);
  if (error == std::errc::permission_denied) {
    if (const std::optional<std::string> blocked = unsearchable_folder(folder)) return {unsearchable_warning(*blocked)};
    return {folder + ": cannot be read: " + error.message()};
  }
  // Regular files only: a pipe named *.toml would hold up every start. Anything else
  // of that name (a link that leads nowhere, a folder) is said to be passed over.
  for (const auto& item : items) {
    if (item.path().extension() != ".toml") continue;
    std::error_code kind_error;
    if (item.is_regular_file(kind_error)) {
      files.push_back(item.path());
    } else {
      const std::u8string name = item.path().u8string();
      problems.push_back(std::string(name.begin(), name.end()) + ": not a regular file; passed over");
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    const std::u8string name = file.u8string();
    if (auto problem = add_file(std::string(name.begin(), name.end()), &problems)) problems.push_back(*problem);
  }
  return problems;
}

const service_entry* service_registry::find(std::string_view name) const {
  for (const service_entry& entry : entries_)
    if (entry.rule.name == name) return &entry;
  return nullptr;
}

const service_entry* service_registry::for_address(std::string_view address) const {
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry)
    if (rule_finds_address(entry->rule, address)) return &*entry;
  return nullptr;
}

bool rule_finds_address(const service_rule& rule, std::string_view address) {
  const std::string text = normalised_address(address);
  return std::any_of(rule.addresses.begin(), rule.addresses.end(),
                     [&](const std::string& pattern) { return finds(pattern, text); });
}

std::error_code look_up_path(const std::string& path) {
  std::error_code error;
  (void)std::filesystem::status(std::filesystem::u8path(path), error);
  return error;
}

std::optional<std::string> unsearchable_folder(const std::string& path, const path_lookup& look_up) {
  if (look_up(path) != std::errc::permission_denied) return std::nullopt;
  // Up the folders to the first that can be looked up: the one that may not be searched.
  for (std::filesystem::path folder = std::filesystem::u8path(path).parent_path(); !folder.empty();
       folder = folder.parent_path()) {
    const std::u8string name = folder.u8string();
    const std::string text(name.begin(), name.end());
    const std::error_code error = look_up(text);
    if (!error) return text;
    if (error != std::errc::permission_denied || folder == folder.parent_path()) break;
  }
  return std::nullopt;
}

std::string unsearchable_warning(const std::string& folder) {
  return "cannot look inside " + folder + " (permission denied); going on without the configuration and rule files below it";
}

service_registry installed_services(std::vector<std::string>& problems) {
  service_registry registry = service_registry::built_in();
  for (const std::string& folder : rule_folders()) {
    std::vector<std::string> found = registry.add_folder(folder);
    problems.insert(problems.end(), found.begin(), found.end());
  }
  return registry;
}

namespace {

struct read_once {
  std::vector<std::string> problems;
  service_registry registry = installed_services(problems);
};

const read_once& process_reading() {
  static const read_once reading = [] {
    read_once r;
    for (std::string& problem : r.problems) problem = one_line(problem);
    return r;
  }();
  return reading;
}

}  // namespace

const service_registry& process_services() { return process_reading().registry; }

const std::vector<std::string>& process_service_problems() { return process_reading().problems; }

}  // namespace sharelink
