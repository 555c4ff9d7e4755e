#pragma once
// A host's site: the part of its name that one owner registered.
#include <string>
#include <string_view>

namespace sharelink {

/// The registrable domain of `host` (lower case, its labels in ASCII form, as
/// host_of in fetch_hop gives it): its public suffix by the public suffix list
/// (built in, the private domains such as github.io included) and one label more,
/// e.g. "pan.example" for "api.pan.example" and "x.co.uk" for "a.x.co.uk". A host
/// that has no such domain (an IP address, a single label as "localhost", a public
/// suffix itself) is a site of its own: the host. A trailing dot is dropped.
std::string registrable_domain(std::string_view host);

/// The registrable domain of the host of `address` (local text, prepared as a fetch
/// prepares it); empty when it cannot be fetched.
std::string site_of_address(std::string_view address);

}  // namespace sharelink
