#include "codec/utf8.h"

#include <cstdint>
#include <cstring>

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

namespace {

/// How far a sequence reaches from its lead byte: the number of bytes that are a
/// well-formed prefix of some character (at least 1), and the character when the
/// whole sequence is there.
struct prefix {
  std::size_t length;
  bool complete;
  char32_t code_point;
};

prefix read_prefix(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(at);
  if (lead < 0x80) return {1, true, lead};
  // The first continuation byte of E0, ED, F0 and F4 has a narrower range, which
  // keeps out overlong forms, surrogates and values above U+10FFFF.
  std::size_t continuation;
  unsigned low = 0x80, high = 0xBF;
  char32_t cp;
  if (lead < 0xC2 || lead > 0xF4) {
    return {1, false, 0};
  } else if (lead < 0xE0) {
    continuation = 1;
    cp = lead & 0x1F;
  } else if (lead < 0xF0) {
    continuation = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else {
    continuation = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  std::size_t i = at + 1;
  for (std::size_t k = 0; k < continuation; ++k, ++i) {
    if (i >= text.size() || byte(i) < low || byte(i) > high) return {i - at, false, 0};
    cp = cp << 6 | (byte(i) & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {i - at, true, cp};
}

}  // namespace

utf8_char read_utf8(std::string_view text, std::size_t at) {
  const prefix p = read_prefix(text, at);
  return p.complete ? utf8_char{p.code_point, p.length} : utf8_char{0, 0};
}

bool is_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    // Most text is ASCII: eight bytes at a time while none has its top bit set.
    std::uint64_t eight;
    if (text.size() - i >= sizeof eight) {
      std::memcpy(&eight, text.data() + i, sizeof eight);
      if ((eight & 0x8080808080808080u) == 0) {
        i += sizeof eight;
        continue;
      }
    }
    const prefix p = read_prefix(text, i);
    if (!p.complete) return false;
    i += p.length;
  }
  return true;
}

std::string repair_utf8(std::string_view text) {
  if (is_utf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const prefix p = read_prefix(text, i);
    if (p.complete) {
      out.append(text.substr(i, p.length));
    } else {
      out += "\xEF\xBF\xBD";
    }
    i += p.length;
  }
  return out;
}

local_text utf8_to_local(std::string_view utf8) { return repair_utf8(as_local(utf8)); }

}  // namespace sharelink
