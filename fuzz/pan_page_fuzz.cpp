// The Pan rule's fields, and the slash unescaping, on arbitrary pages.
#include <cstdint>
#include <string>

#include "parse_fields.h"
#include "reading/decode_steps.h"
#include "runtime/text.h"
#include "testing/built_in_reading.h"
#include "testing/reference/pan.h"

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
  const resolved_file fields = testing::built_in_fields("pan", page);
  fuzz::check_fields(fields, page);
  check_unescaped(fields.download_url);
  check(fields == parse_pan_page(to_text(page)), "the rule's fields differ from the reference parse");
  check(testing::built_in_fields("pan", std::string(page)) == fields, "a second reading disagrees");

  local_text unescaped = unescape_slashes(page);
  check(unescaped.size() <= as_local(page).size(), "unescaping made the address longer");
  check_unescaped(unescaped);
  return 0;
}
