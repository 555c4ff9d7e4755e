#pragma once
// The configuration file: defaults for the command's options, in TOML.
//   jobs = 8
//   timeout = 30            # seconds, fractions allowed
//   proxy = "socks5h://127.0.0.1:1080"
//   output_dir = "/home/me/Downloads"
//   retries = 3
//   max_per_host = 2
//   cacert = "/etc/ssl/my-ca.pem"
//   archive = "/home/me/.local/share/sharelink/archive.sqlite"
//   aria2_rpc = "http://127.0.0.1:6800/jsonrpc"
//   aria2_secret = "..."
//   cookies = "/home/me/.config/sharelink/cookies.txt"
#include <optional>
#include <string>
#include <string_view>

#include "rules/services.h"

namespace sharelink::cli {

/// What a configuration file sets; a key the file leaves out stays unset. Options
/// given on the command line win over every one of these.
struct config {
  std::optional<int> jobs;                ///< above 0
  std::optional<long> timeout_ms;         ///< from seconds above 0, rounded up
  std::optional<std::string> proxy;       ///< "" for none
  std::optional<std::string> output_dir;  ///< where --download saves
  std::optional<int> retries;             ///< 0 or more
  std::optional<int> max_per_host;        ///< above 0
  std::optional<std::string> cacert;      ///< a PEM file of trusted authorities
  std::optional<std::string> archive;     ///< --archive
  std::optional<std::string> aria2_rpc;   ///< --aria2-rpc
  std::optional<std::string> aria2_secret;  ///< --aria2-secret
  std::optional<std::string> cookies;       ///< --cookies
};

/// The settings in `text`, a TOML document; `path` names it in messages. A document
/// that is not TOML, a key this program does not know, or a value of the wrong kind
/// or out of range is refused: nothing, with `error` set to one line
/// "PATH:LINE:COLUMN: what is wrong".
std::optional<config> parse_config(std::string_view text, const std::string& path, std::string& error);

/// The configuration file at `path` (UTF-8). A file that does not exist is an empty
/// configuration, and so is one below a folder that may not be searched (another
/// user's home), `warning` then saying so (unsearchable_warning; `look_up` asks the
/// system about a path). One that cannot be read or is refused by parse_config
/// gives nothing and `error` (one line that starts with the path).
std::optional<config> load_config(const std::string& path, std::string& error, std::string& warning,
                                  const path_lookup& look_up = look_up_path);

/// Where the configuration file is looked for: $XDG_CONFIG_HOME/sharelink/config.toml
/// (~/.config/sharelink/config.toml when that is unset or not absolute) on POSIX
/// systems, %APPDATA%\sharelink\config.toml on Windows. Nothing when the
/// environment names no such folder.
std::optional<std::string> default_config_path();

}  // namespace sharelink::cli
