#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "runtime/text.h"

namespace sharelink {

/// A byte count as at most five characters of the number scaled by powers of 1024
/// ("%.13g", cut, not rounded) followed by B, KB, MB, GB, TB or PB: 1536 -> "1.5KB".
/// Sizes of 1024 PB and more stay in PB; infinities and NaN return promptly.
local_text format_size(double size);

/// A size value read exactly as a whole number of bytes: one run of 1 to 20 ASCII
/// decimal digits whose value fits 64 bits, with optional ASCII blanks (space, tab,
/// line breaks, form feed, vertical tab) before and after it and nothing else.
/// Nothing for any other text: empty, signed, fractional ("1536.0"), exponent,
/// full-width digits, trailing words. Reads `text` up to its first zero byte.
std::optional<std::uint64_t> read_whole_bytes(std::string_view text);

/// A size as a page writes it in words, as a whole number of bytes (rounded to the
/// nearest): a number ("1024", "1.5", "1,234", full-width digits folded) and a unit
/// of 1024-based powers, blanks around it optional: B, K, KB, KiB, M, MB, MiB, G,
/// GB, GiB, T, TB, TiB, P, PB, PiB in any case (none, "byte" or "bytes" for bytes).
/// Nothing for any other text ("about 3 MB", "1.2.3 KB", "", "-1 KB") or a size past
/// 64 bits.
std::optional<std::uint64_t> read_size_in_words(std::string_view text);

}  // namespace sharelink
