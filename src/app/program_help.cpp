#include "app/program_help.h"

#include <sharelink/version.h>

namespace sharelink::app {

std::optional<std::string> program_help(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--version") return std::string("sharelink-gui ") + SHARELINK_VERSION + "\n";
    if (arg == "--help" || arg == "-h")
      return "Usage: sharelink-gui [--version | --help]\n"
             "\n"
             "Opens a window that turns the share address of a file on the Kuaichuan\n"
             "or the Pan service into its direct download address, file name, kind\n"
             "of file, size and MD5 text. A click on the download address copies it.\n"
             "\n"
             "  -h, --help  Print this summary and exit\n"
             "  --version   Print the version and exit\n"
             "\n"
             "The same from a terminal or a script: the sharelink command.\n";
  }
  return std::nullopt;
}

}  // namespace sharelink::app
