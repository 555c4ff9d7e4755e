// The Kuaichuan rule's fields on arbitrary pages.
#include <cstdint>
#include <string>

#include "parse_fields.h"
#include "testing/built_in_reading.h"
#include "testing/reference/kuaichuan.h"

using namespace sharelink;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view page(reinterpret_cast<const char*>(data), size);
  const resolved_file fields = testing::built_in_fields("kuaichuan", page);
  fuzz::check_fields(fields, page);
  check(fields == parse_kuaichuan_page(to_text(page)), "the rule's fields differ from the reference parse");
  check(testing::built_in_fields("kuaichuan", std::string(page)) == fields, "a second reading disagrees");
  return 0;
}
