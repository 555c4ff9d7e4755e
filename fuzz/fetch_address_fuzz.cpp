// How the fetcher reads a pasted address and a redirect's Location, on arbitrary
// bytes. Input: the address, a zero byte, then the Location value.
#include <cstdint>
#include <string>

#include "check.h"
#include "runtime/fetch.h"

using namespace sharelink;
using fuzz::check;

namespace {

void check_prepared(const fetch_address& a) {
  check(a.url.empty() != a.error.empty(), "an address is neither ready nor refused");
  if (a.url.empty()) return;
  check(a.url.starts_with("http://") || a.url.starts_with("https://"), "a ready address is not http");
  check(a.secure == a.url.starts_with("https://"), "secure does not follow the scheme");
  for (unsigned char c : a.url) check(c > 0x20 && c < 0x7F, "a ready address holds unsendable bytes");
  check(a.url.find('#') == std::string::npos, "a fragment would be sent");
  check(prepare_fetch_address(a.url).url == a.url, "preparing a ready address changes it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input_reader in(data, size);
  std::string address(in.take_until('\0'));
  std::string location(in.rest());

  fetch_address from = prepare_fetch_address(address);
  check_prepared(from);
  if (from.url.empty()) return 0;

  fetch_address to = follow_redirect(from, location);
  check_prepared(to);
  if (from.secure) check(to.url.empty() || to.secure, "a redirect went from https down to http");
  return 0;
}
