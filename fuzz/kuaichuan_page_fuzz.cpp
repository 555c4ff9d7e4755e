// The Kuaichuan page parse on arbitrary pages.
#include <cstdint>
#include <string>

#include "codec/char_refs.h"
#include "parse_fields.h"
#include "testing/reference/kuaichuan.h"

using namespace sharelink;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view page(reinterpret_cast<const char*>(data), size);
  resolved_file fields = parse_kuaichuan_page(page);
  fuzz::check_fields(fields, page);
  const kuaichuan_markers markers = find_kuaichuan_markers(page);
  check(markers.download_url.empty() || page.find(markers.download_url) != std::string_view::npos,
        "download address is not taken from the page");
  check(fields.download_url == decode_char_refs(markers.download_url),
        "download address is not the marker with its references decoded");
  check(parse_kuaichuan_page(std::string(page)) == fields, "a second parse disagrees");
  return 0;
}
