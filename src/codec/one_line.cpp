#include "codec/one_line.h"

namespace sharelink {

std::string one_line(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x20 || c == 0x7F) {
      line += ' ';
    } else if (c == 0xC2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) <= 0x9F &&
               static_cast<unsigned char>(text[at + 1]) >= 0x80) {
      line += ' ';
      ++at;
    } else {
      line += static_cast<char>(c);
    }
  }
  return line;
}

}  // namespace sharelink
