#pragma once
// Reading the Retry-After header of a 429 or 503 answer.
#include <chrono>
#include <optional>
#include <string_view>

namespace sharelink {

/// How long a Retry-After value asks to wait, counted from `now`: whole seconds
/// ("120") or an HTTP date in any of its three forms ("Sun, 06 Nov 1994 08:49:37 GMT",
/// "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"). A date already past
/// waits 0 s; a number too large for the clock is taken as a very long wait. Nothing
/// when the value is neither. Independent of the process locale.
std::optional<std::chrono::seconds> retry_after_delay(std::string_view value,
                                                      std::chrono::system_clock::time_point now);

}  // namespace sharelink
