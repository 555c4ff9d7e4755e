// Finding the home page beside the program on Linux.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "app/desktop.h"
#include "app/home_page.h"

namespace sharelink {
namespace {

std::string program_folder() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      break;
    }
    path.resize(path.size() * 2);
  }
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string home_page_address() {
  const std::string folder = program_folder();
  if (folder.empty()) return {};
  for (const std::string& candidate : app::home_page_candidates(folder, '/')) {
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      return app::file_address(candidate, false);
  }
  return {};
}

}  // namespace sharelink
