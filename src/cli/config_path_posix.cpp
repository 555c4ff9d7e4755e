#include <cstdlib>

#include "cli/config.h"

namespace sharelink::cli {

std::optional<std::string> default_config_path() {
  // A relative XDG_CONFIG_HOME is to be ignored, as the base-directory rules say.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/sharelink/config.toml";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/sharelink/config.toml";
  return std::nullopt;
}

}  // namespace sharelink::cli
