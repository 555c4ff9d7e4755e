#pragma once
// Addresses a page writes relative to itself, made absolute.
#include <string>
#include <string_view>

namespace sharelink {

/// `reference` resolved against `base` as RFC 3986 section 5 resolves it (the
/// dot segments of its path removed). A reference with a scheme of its own, an
/// empty one (no address, not the base's), or one given no base, stays as it is; blanks and control characters at its ends do not
/// count (a browser drops them). Both are local text.
std::string resolve_reference(std::string_view base, std::string_view reference);

/// True when `address`, blanks at its ends aside, begins with "http:" or "https:"
/// (any case).
bool is_web_address(std::string_view address);

}  // namespace sharelink
