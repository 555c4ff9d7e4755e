#include <cerrno>
#include <cstring>

#include "cli/process.h"

namespace sharelink::cli {

std::optional<std::string> read_whole_file(const std::string& path, std::size_t most, bool& cut,
                                           std::string& error) {
  std::FILE* file = open_for_reading(path);
  if (file == nullptr) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::string bytes;
  char buffer[65536];
  std::size_t n = 0;
  // One byte past `most` tells a file of exactly that size from a longer one.
  while (bytes.size() <= most && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  cut = bytes.size() > most;
  if (cut) bytes.resize(most);
  const bool failed = std::ferror(file) != 0;
  const int reason = errno;
  std::fclose(file);
  if (failed) {
    error = std::strerror(reason);
    return std::nullopt;
  }
  return bytes;
}

}  // namespace sharelink::cli
