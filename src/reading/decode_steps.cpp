#include "reading/decode_steps.h"

#include <optional>
#include <string>

#include "codec/char_refs.h"
#include "codec/gb18030.h"
#include "codec/hex_escape.h"
#include "codec/percent.h"
#include "codec/utf8.h"
#include "reading/size_format.h"
#include "runtime/text.h"

namespace sharelink {
namespace {

/// Four hexadecimal digits at `at`, or -1.
int hex4(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const int digit = hex_value(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

/// The escapes of a JSON string undone; an escape that is not one stays as it stands.
local_text json_unescape(std::string_view text) {
  local_text out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char e = text[i + 1];
    const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
    if (const std::size_t k = simple.find(e); k != std::string_view::npos) {
      out.push_back(meaning[k]);
      ++i;
      continue;
    }
    int code = e == 'u' ? hex4(text, i + 2) : -1;
    if (code < 0) {
      out.push_back(text[i]);
      continue;
    }
    std::size_t used = 6;
    if (code >= 0xD800 && code < 0xDC00 && text.substr(i + 6, 2) == "\\u") {
      const int low = hex4(text, i + 8);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        used = 12;
      }
    }
    if (code == 0 || (code >= 0xD800 && code < 0xE000)) code = 0xFFFD;
    append_utf8(out, static_cast<char32_t>(code));
    i += used - 1;
  }
  return out;
}

constexpr std::string_view escaped_scheme_slashes = R"(\\/\\/)";
constexpr std::string_view escaped_slash = R"(\\/)";

// Replaces "\\/" by "/" until none is left, the way a search from the start after
// every replacement would, but in one pass: a "/" that completes "\\/" swallows the
// two backslashes before it, and the "/" it leaves may complete another one.
// (Bytes are walked one by one: no byte of a character beyond ASCII is a "\" or a
// "/", so this is the walk over whole characters that find_text makes.)
local_text collapse_escaped_slashes(std::string_view address) {
  local_text out;
  out.reserve(address.size());
  std::size_t trailing_backslashes = 0;  // '\' bytes ending `out`
  for (const char c : address) {
    if (c == '\\') {
      ++trailing_backslashes;
    } else {
      if (c == '/') out.resize(out.size() - (trailing_backslashes - trailing_backslashes % 2));
      trailing_backslashes = 0;
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace

local_text unescape_slashes(std::string_view address) {
  // The searches are for ASCII, so byte offsets are the ones find_text gives.
  local_text unescaped(as_local(address));
  if (const std::size_t scheme_slashes = unescaped.find(escaped_scheme_slashes); scheme_slashes != local_text::npos)
    unescaped.replace(scheme_slashes, escaped_scheme_slashes.size(), "//");
  if (unescaped.find(escaped_slash) == local_text::npos) return unescaped;
  return collapse_escaped_slashes(unescaped);
}

local_text decode_value(std::string_view value, const std::vector<decode_step>& steps,
                        std::optional<std::string>* problem, std::vector<traced_decode>* steps_done,
                        broken_bytes broken) {
  local_text text = utf8_or_gb18030(value, broken);
  for (const decode_step step : steps) {
    local_text before = steps_done != nullptr ? text : local_text();
    switch (step) {
      case decode_step::char_refs: text = decode_char_refs(text); break;
      case decode_step::percent: text = percent_decode(text); break;
      case decode_step::json_string: text = json_unescape(text); break;
      case decode_step::backslashes: text = unescape_slashes(text); break;
      case decode_step::trim: text = trim(text); break;
      case decode_step::size_units:
        if (const std::optional<std::uint64_t> bytes = read_size_in_words(text)) {
          text = std::to_string(*bytes);
        } else if (problem != nullptr && !*problem) {
          *problem = "the size '" + local_text(text.substr(0, 100)) + "' is not a size";
        }
        break;
    }
    if (steps_done != nullptr)
      steps_done->push_back({std::string(decode_step_names[static_cast<std::size_t>(step)]), std::move(before), text});
  }
  // A step that writes bytes may have made some that are not UTF-8: what comes out
  // is UTF-8 all the same. Without steps the text is utf8_or_gb18030's, UTF-8 already.
  if (steps.empty() || is_utf8(text)) return text;
  return utf8_or_gb18030(text, broken);
}

}  // namespace sharelink
