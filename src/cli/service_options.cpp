#include "cli/service_options.h"

#include <algorithm>
#include <memory>
#include <ostream>

#include <CLI/CLI.hpp>

#include "cli/options.h"
#include "cli/report.h"

namespace sharelink::cli {
namespace {

/// "STEP=FILE" when the text before "=" is a step's name (letters, digits, "-").
std::optional<std::pair<std::string, std::string>> step_page(const std::string& text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return std::nullopt;
  for (std::size_t i = 0; i < equals; ++i) {
    const char c = text[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')) return std::nullopt;
  }
  return std::pair{text.substr(0, equals), text.substr(equals + 1)};
}

}  // namespace

CLI::Option* add_service_options(CLI::App& app, service_options& typed) {
  app.add_option("--service", typed.service, "The service of every address (see --list-services)")
      ->type_name("NAME");
  // One value to each: the words after it are addresses, not more files.
  app.add_option("--rules", typed.rules, "Read a service from this rule file as well\n(may be given again)")
      ->type_name("FILE")
      ->allow_extra_args(false);
  app.add_flag("--list-services", typed.list, "Print the services known, one a line: name, title,\nsource and the patterns of its addresses, by tabs");
  return app.add_option("--page", typed.pages,
                        "Read the share page from FILE (- for standard input)\n"
                        "instead of fetching it, and a step's answer from\n"
                        "STEP=FILE; needs --service or one --rules file")
      ->type_name("FILE")
      ->allow_extra_args(false);
}

std::optional<service_options_problem> finish_service_options(const service_options& typed, settings& s,
                                                              std::ostream& err, bool quiet, std::string_view said) {
  std::vector<std::string> problems;
  auto services = std::make_shared<service_registry>(installed_services(problems));
  std::optional<std::string> only_rule;
  // A file named on the command line that cannot be used ends the run: the
  // services it was to add would be missed without a word further on.
  std::string unusable;
  for (const std::string& file : typed.rules) {
    if (auto problem = services->add_file(file, &problems)) {
      unusable += (unusable.empty() ? "" : "\n") + ("sharelink: " + one_line(*problem));
      continue;
    }
    only_rule = typed.rules.size() == 1 ? std::optional(services->entries().back().rule.name) : std::nullopt;
  }
  if (!quiet)
    for (const std::string& problem : problems)
      if (problem != said) write_line(err, "sharelink: " + problem);
  if (!unusable.empty()) return service_options_problem{unusable, false};
  s.lookup.services = services;

  if (!typed.service.empty()) {
    if (services->find(typed.service) == nullptr) {
      std::string known;
      for (const service_entry& e : services->entries()) known += (known.empty() ? "" : ", ") + e.rule.name;
      return service_options_problem{"--service: " + one_line(typed.service) + " is not a service (" + known + ")"};
    }
    s.lookup.forced_service = typed.service;
  }
  for (const std::string& page : typed.pages) {
    if (auto step = step_page(page)) {
      s.step_pages.push_back(*step);
    } else if (s.page_file) {
      return service_options_problem{"--page: one share page only (a step's answer is STEP=FILE)"};
    } else {
      s.page_file = page;
    }
  }
  if (!s.step_pages.empty() && !s.page_file)
    return service_options_problem{"--page STEP=FILE needs the share page too (--page FILE)"};
  if (s.page_file && !s.lookup.forced_service) {
    if (!only_rule) return service_options_problem{"--page needs --service (or a single --rules file)"};
    s.lookup.forced_service = only_rule;
  }
  // A step's answer for a step the service does not have, or a second answer for a
  // step that reads one only, would be passed over without a word. A paged step
  // reads its answers as its pages in turn, a step for each file as its batches.
  if (const service_entry* entry = s.page_file ? services->find(*s.lookup.forced_service) : nullptr) {
    const std::vector<step_rule>& steps = entry->rule.steps;
    for (std::size_t i = 0; i < s.step_pages.size(); ++i) {
      const std::string& step = s.step_pages[i].first;
      const auto rule_step = std::find_if(steps.begin(), steps.end(), [&](const step_rule& r) { return r.name == step; });
      if (rule_step == steps.end()) {
        std::string names;
        for (const step_rule& r : steps) names += (names.empty() ? "" : ", ") + r.name;
        return service_options_problem{"--page " + step + "=FILE: " + one_line(entry->rule.name) + " has no step " +
                                       step + (names.empty() ? "" : " (its steps: " + one_line(names) + ")")};
      }
      if (rule_step->pages || rule_step->for_each_file) continue;
      for (std::size_t j = 0; j < i; ++j)
        if (s.step_pages[j].first == step) return service_options_problem{"--page " + step + "=FILE: given twice"};
    }
  }
  return std::nullopt;
}

std::string service_list(const service_registry& services) {
  std::string list;
  for (const service_entry& e : services.entries()) {
    list += one_line(e.rule.name) + "\t" + one_line(e.rule.title) + "\t" + one_line(e.source);
    for (const std::string& pattern : e.rule.addresses) list += "\t" + one_line(pattern);
    list += "\n";
  }
  return list;
}

}  // namespace sharelink::cli
