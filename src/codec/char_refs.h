#pragma once
// Character references as they appear in HTML attribute values.
#include <string_view>

#include "codec/local_text.h"

namespace sharelink {

/// `text` with its character references replaced by the characters they stand
/// for: the named &amp; &lt; &gt; &quot; &apos; (in exactly that case) and the
/// numeric &#N; &#xH; &#XH; (one or more digits, the semicolon required) with a
/// value from 1 to 0x10FFFF outside the surrogates. Anything else, a malformed or
/// unknown reference included, stays as it stands. Each reference is decoded once:
/// "&amp;lt;" gives "&lt;". Reads `text` up to its first zero byte.
local_text decode_char_refs(std::string_view text);

}  // namespace sharelink
