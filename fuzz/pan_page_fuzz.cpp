// The Pan page parse, and the slash unescaping, on arbitrary pages.
#include <cstdint>
#include <string>

#include "parse_fields.h"
#include "reading/decode_steps.h"
#include "testing/reference/pan.h"
#include "runtime/text.h"

using namespace sharelink;
using fuzz::check;

namespace {

void check_unescaped(std::string_view unescaped) {
  check(find_text(unescaped, "\\\\/") == -1, "an escaped slash is left");
  check(unescape_slashes(unescaped) == unescaped, "unescaping twice changes the address");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view page(reinterpret_cast<const char*>(data), size);
  resolved_file fields = parse_pan_page(page);
  fuzz::check_fields(fields, page);
  check_unescaped(fields.download_url);
  check(parse_pan_page(std::string(page)) == fields, "a second parse disagrees");

  local_text unescaped = unescape_slashes(page);
  check(unescaped.size() <= as_local(page).size(), "unescaping made the address longer");
  check_unescaped(unescaped);
  return 0;
}
