#include <cstdlib>

#include "rules/services.h"

namespace sharelink {

std::vector<std::string> rule_folders() {
  std::vector<std::string> folders = {"/etc/sharelink/services"};
  // A relative XDG_CONFIG_HOME is to be ignored, as the base-directory rules say.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg && xdg[0] == '/') folders.push_back(std::string(xdg) + "/sharelink/services");
  else if (home && *home) folders.push_back(std::string(home) + "/.config/sharelink/services");
  return folders;
}

}  // namespace sharelink
