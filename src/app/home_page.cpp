#include "app/home_page.h"

#include "codec/hex_escape.h"

namespace sharelink::app {
namespace {

void append_encoded(std::string& out, std::string_view path, bool windows_path,
                    bool keep_non_ascii) {
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '/' || (windows_path && c == '\\')) {
      out += '/';
    } else if (is_unreserved(c) || (keep_non_ascii && c >= 0x80)) {
      out += ch;
    } else {
      append_percent_escape(out, c);
    }
  }
}

bool is_drive(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

}  // namespace

std::vector<std::string> home_page_candidates(std::string_view program_folder, char separator) {
  const std::string beside = std::string(program_folder) + separator + "home.html";
  const auto cut = program_folder.find_last_of(separator);
  if (cut == std::string_view::npos || cut == 0) return {beside};
  std::string installed(program_folder.substr(0, cut));
  for (const char* part : {"share", "sharelink", "home.html"}) (installed += separator) += part;
  return {beside, installed};
}

std::string file_address(std::string_view path, bool windows_path, bool keep_non_ascii) {
  std::string out = "file://";
  if (windows_path && is_drive(path)) {
    out += '/';
    out += path.substr(0, 2);  // the drive's colon stays as it is
    path.remove_prefix(2);
  } else if (windows_path && path.size() > 2 && (path[0] == '\\' || path[0] == '/') &&
             (path[1] == '\\' || path[1] == '/')) {
    path.remove_prefix(2);  // the server becomes the address's host
  }
  append_encoded(out, path, windows_path, keep_non_ascii);
  return out;
}

}  // namespace sharelink::app
