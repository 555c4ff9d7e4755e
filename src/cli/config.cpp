#include "cli/config.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include <toml++/toml.h>

#include "cli/process.h"
#include "cli/report.h"
#include "rules/services.h"
#include "rules/toml_precheck.h"

namespace sharelink::cli {
namespace {

// A configuration file is a few lines; anything much larger is not one.
constexpr std::size_t largest_config = 1024 * 1024;

// The longest time-out taken, in milliseconds (about 24 days), as on the command line.
constexpr double longest_timeout_ms = 2147483647.0;

std::string position(const std::string& path, const toml::source_region& where) {
  return path + ":" + std::to_string(where.begin.line) + ":" + std::to_string(where.begin.column) + ": ";
}

// Reads one key's value into `c`; false with `problem` set when it does not fit.
bool read_value(const std::string& key, const toml::node& value, config& c, std::string& problem) {
  const auto whole = [&](std::optional<int>& into, long long least, const char* wanted) {
    const std::optional<long long> n = value.value_exact<long long>();
    if (!n || *n < least || *n > std::numeric_limits<int>::max()) {
      problem = key + " must be " + wanted;
      return false;
    }
    into = static_cast<int>(*n);
    return true;
  };
  const auto text = [&](std::optional<std::string>& into) {
    const std::string* s = value.as_string() ? &value.as_string()->get() : nullptr;
    if (!s) {
      problem = key + " must be a string (in quotes)";
      return false;
    }
    into = *s;
    return true;
  };
  if (key == "jobs") return whole(c.jobs, 1, "a whole number above 0");
  if (key == "retries") return whole(c.retries, 0, "a whole number, 0 or more");
  if (key == "max_per_host") return whole(c.max_per_host, 1, "a whole number above 0");
  if (key == "proxy") return text(c.proxy);
  if (key == "output_dir") return text(c.output_dir);
  if (key == "cacert") return text(c.cacert);
  if (key == "archive") return text(c.archive);
  if (key == "aria2_rpc") return text(c.aria2_rpc);
  if (key == "aria2_secret") return text(c.aria2_secret);
  if (key == "cookies") return text(c.cookies);
  if (key == "timeout") {
    const std::optional<double> seconds = value.is_number() ? value.value<double>() : std::nullopt;
    if (!seconds || !std::isfinite(*seconds) || *seconds <= 0) {
      problem = "timeout must be a number of seconds above 0";
      return false;
    }
    c.timeout_ms = static_cast<long>(std::min(std::ceil(*seconds * 1000.0), longest_timeout_ms));
    return true;
  }
  problem = "unknown key '" + key + "' (known: jobs, timeout, proxy, output_dir, retries, max_per_host, cacert, archive, "
            "aria2_rpc, aria2_secret, cookies)";
  return false;
}

bool known_key(std::string_view key) {
  for (std::string_view k : {"jobs", "timeout", "proxy", "output_dir", "retries", "max_per_host", "cacert", "archive",
                             "aria2_rpc", "aria2_secret", "cookies"})
    if (key == k) return true;
  return false;
}

}  // namespace

std::optional<config> parse_config(std::string_view text, const std::string& path, std::string& error) {
  const toml_precheck checked = precheck_toml(text);
  if (checked.problem) {
    error = one_line(path + ":" + std::to_string(checked.problem->line) + ":" +
                     std::to_string(checked.problem->column) + ": " + checked.problem->what);
    return std::nullopt;
  }
  toml::table table;
  try {
    table = toml::parse(checked.text, std::string_view(path));
  } catch (const toml::parse_error& e) {
    error = one_line(position(path, e.source()) + std::string(e.description()));
    return std::nullopt;
  }
  config c;
  for (const auto& [key, value] : table) {
    std::string problem;
    if (!read_value(std::string(key.str()), value, c, problem)) {
      // A wrong value is shown where the value is; an unknown key where the key is.
      error = one_line(position(path, known_key(key.str()) ? value.source() : key.source()) + problem);
      return std::nullopt;
    }
  }
  return c;
}

std::optional<config> load_config(const std::string& path, std::string& error, std::string& warning,
                                  const path_lookup& look_up) {
  std::FILE* file = open_for_reading(path);
  if (file == nullptr) {
    const int reason = errno;
    if (reason == ENOENT) return config{};
    // Another user's home, as under sudo -u: nothing there can be read, so nothing is.
    if (const std::optional<std::string> blocked = reason == EACCES ? unsearchable_folder(path, look_up) : std::nullopt) {
      warning = unsearchable_warning(*blocked);
      return config{};
    }
    error = one_line(path + ": " + std::strerror(reason));
    return std::nullopt;
  }
  std::fclose(file);
  bool cut = false;
  std::string reason;
  const std::optional<std::string> text = read_whole_file(path, largest_config, cut, reason);
  if (!text) {
    error = one_line(path + ": " + reason);
    return std::nullopt;
  }
  if (cut) {
    error = one_line(path + ": larger than " + std::to_string(largest_config) + " bytes; not a configuration file");
    return std::nullopt;
  }
  return parse_config(*text, path, error);
}

}  // namespace sharelink::cli
