#pragma once
// Character references as they appear in HTML attribute values.
#include <string_view>

#include "codec/local_text.h"

namespace sharelink {

/// How a reference to a character outside ASCII is written out.
enum class char_ref_output {
  local,  ///< as that character in local text
  utf8,   ///< as its UTF-8 bytes, for a later step that reads the text as UTF-8
          ///< (the same bytes, now that local text is UTF-8)
};

/// `text` with its character references replaced by the characters they stand
/// for: the named &amp; &lt; &gt; &quot; &apos; (in exactly that case) and the
/// numeric &#N; &#xH; &#XH; (one or more digits, the semicolon required) with a
/// value from 1 to 0x10FFFF outside the surrogates. Anything else, a malformed or
/// unknown reference included, stays as it stands. Each reference is decoded once:
/// "&amp;lt;" gives "&lt;". Reads `text` up to its first zero byte.
local_text decode_char_refs(std::string_view text, char_ref_output output = char_ref_output::local);

}  // namespace sharelink
