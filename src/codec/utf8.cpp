#include "codec/utf8.h"

namespace sharelink {

void append_utf8(std::string& out, char32_t code_point) {
  const auto byte = [](char32_t value) { return static_cast<char>(value); };
  if (code_point < 0x80) {
    out += byte(code_point);
  } else if (code_point < 0x800) {
    out += byte(0xC0 | code_point >> 6);
    out += byte(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += byte(0xE0 | code_point >> 12);
    out += byte(0x80 | (code_point >> 6 & 0x3F));
    out += byte(0x80 | (code_point & 0x3F));
  } else {
    out += byte(0xF0 | code_point >> 18);
    out += byte(0x80 | (code_point >> 12 & 0x3F));
    out += byte(0x80 | (code_point >> 6 & 0x3F));
    out += byte(0x80 | (code_point & 0x3F));
  }
}

}  // namespace sharelink
