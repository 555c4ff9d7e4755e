#include "codec/hex_escape.h"

namespace sharelink {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool is_md5_hex(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text)
    if (!is_hex_digit(c)) return false;
  return true;
}

bool is_unreserved(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
         byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

void append_percent_escape(std::string& out, unsigned char byte) {
  static constexpr char digits[] = "0123456789ABCDEF";
  out += '%';
  out += digits[byte >> 4];
  out += digits[byte & 0x0F];
}

std::string percent_escape(std::string_view text, bool (*escaped)(unsigned char)) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (escaped(byte))
      append_percent_escape(out, byte);
    else
      out += c;
  }
  return out;
}

std::string percent_unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && is_hex_digit(text[i + 1]) &&
        is_hex_digit(text[i + 2])) {
      out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace sharelink
