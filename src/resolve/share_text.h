#pragma once
// A share as users paste it: the share address, often inside a line of text that
// also holds the extraction code ("链接: https://pan.example/s/1AbC 提取码: x7k2").
#include <string>
#include <string_view>
#include <vector>

#include "rules/services.h"

namespace sharelink {

/// The http and https addresses in `text` (UTF-8), in order. Each runs from its
/// scheme ("http://" or "https://", any case, or with backslashes) up to the first
/// blank or control character, '"', '<', '>' or '`', full-width or CJK punctuation
/// or space (，。：「」【】（） and the like, curly quotes, "…"), or a Chinese
/// character; a quote or bracket right before the address ends it where it closes
/// (`'…'`, `(…)`, `[…]`, `{…}`); and '.', ',', ';', ':', '!' and '?' at its end, and
/// a closing bracket that no bracket in it opened, are prose, not address.
std::vector<std::string_view> addresses_in_text(std::string_view text);

/// What a pasted line gives.
struct share_input {
  /// The share address: the first address in the line that a service's `addresses`
  /// find (with `forced`, that service's), else the first address in it, else the
  /// line as it stands (which then says itself what is wrong with it).
  std::string address;
  /// The service of `address`: `forced` when given, else the one whose `addresses`
  /// find it; null when none does.
  const service_entry* service = nullptr;
  /// The extraction code the address or the line holds: the value of the query
  /// parameter [password] query names (percent-decoded), else group 1 of the first
  /// match of [password] text in the line; empty when neither finds one.
  std::string password;
};

/// Reads a line of input (UTF-8, a share address alone or share text) as a share.
share_input read_share_text(std::string_view text, const service_registry& services,
                            const service_entry* forced = nullptr);

}  // namespace sharelink
