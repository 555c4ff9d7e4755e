#pragma once
// International host names in the form DNS and the wire know.
#include <optional>
#include <string>
#include <string_view>

namespace sharelink {

/// A host name (UTF-8, without a port) in its ASCII form: each label that holds
/// characters beyond ASCII mapped as browsers map it (case folded, normalised) and
/// written as "xn--" with its Punycode; the whole in lower case. Nothing when the
/// name is not a valid international domain name. libidn2 on Linux (IDNA2008 with
/// the UTS #46 mapping, as curl uses it), IdnToAscii on Windows.
std::optional<std::string> host_to_ascii(std::string_view utf8_host);

}  // namespace sharelink
