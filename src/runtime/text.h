#pragma once
// Byte-oriented text and number primitives shared by the readers, the command
// and the window actions, on local text (see codec/local_text.h). Positions are
// 1-based byte positions, lengths are byte counts, and a position or count
// outside the text gives an empty result rather than an error. Nothing here
// throws, and nothing depends on the process locale.
#include <string>
#include <string_view>

#include "codec/local_text.h"

namespace sharelink {

/// Byte length of the local text (saturates at INT_MAX).
int text_length(std::string_view text);

/// The first min(n, length) bytes; empty when n <= 0.
local_text text_left(std::string_view text, int n);

/// 1-based position of the first occurrence of `sought` at or after `start`, or -1.
/// The walk steps over whole UTF-8 characters, so a match that would begin on a
/// continuation byte of a well-formed character is never reported (a stray byte
/// of 0x80 and above is a step of its own). An empty `sought` gives 1
/// when anything is left to search, else -1. `ignore_case` folds ASCII letters.
int find_text(std::string_view text, std::string_view sought, int start = 1,
              bool ignore_case = false);

/// `text` with at most `n` bytes at 1-based `start` removed and `replacement`
/// put in their place. `start` is clamped into [1, length + 1]; n <= 0 only inserts.
local_text replace_span(std::string_view text, int start, int n, std::string_view replacement);

/// `text` without the bytes of `blanks` at either end (by default the blanks and
/// line breaks of C's isspace in the C locale).
std::string_view trim(std::string_view text, std::string_view blanks = " \t\n\v\f\r");

/// The bytes before the first zero byte of `bytes` (all of them when there is none).
local_text to_text(std::string_view bytes);

/// `value` as printf's "%.13g" writes it in the C locale.
local_text to_text(double value);

/// The text read as a decimal number the way atof reads it in the C locale,
/// after folding the full-width forms of ASCII characters (and the ideographic
/// space) to ASCII.
/// A text with no number at its start gives 0.
double to_number(std::string_view text);

/// `text` with the full-width forms of ASCII characters (and the ideographic
/// space) turned into ASCII, as to_number reads them; everything else copied.
std::string fold_full_width(std::string_view text);

/// to_number rounded to single precision; out-of-range values give +/-infinity.
float to_single(std::string_view text);

}  // namespace sharelink
