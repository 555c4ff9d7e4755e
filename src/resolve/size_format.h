#pragma once
#include "runtime/text.h"

namespace sharelink {

/// A byte count as at most five characters of the number scaled by powers of 1024
/// ("%.13g", cut, not rounded) followed by B, KB, MB, GB, TB or PB: 1536 -> "1.5KB".
/// Sizes of 1024 PB and more stay in PB; infinities and NaN return promptly.
local_text format_size(double size);

}  // namespace sharelink
