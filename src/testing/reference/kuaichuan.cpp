#include "testing/reference/kuaichuan.h"

#include <string_view>

#include "codec/char_refs.h"
#include "codec/percent.h"
#include "codec/gb18030.h"
#include "reading/file_type.h"
#include "reading/last_match.h"
#include "reading/size_format.h"
#include "runtime/pattern.h"

namespace sharelink {
namespace {

// The page's markers, each paired with the literal every match of it ends in.
constexpr std::string_view download_url_pattern = R"re(file_url=\x22(.*?)(\x22 file_size=))re";
constexpr std::string_view download_url_closing = "\" file_size=";
constexpr std::string_view file_name_pattern = R"re(file_name=\x22(.*?)(\x22))re";
constexpr std::string_view file_name_closing = "\"";
constexpr std::string_view size_pattern = R"re(first_file_size\x22 value='(.*?)('>))re";
constexpr std::string_view size_closing = "'>";
constexpr std::string_view key_pattern = R"re(key\x22 value='(.*?)('>))re";
constexpr std::string_view key_closing = "'>";

}  // namespace

kuaichuan_markers find_kuaichuan_markers(std::string_view page_text) {
  const std::string_view page = as_local(page_text);
  pattern_object object = regex_create();

  kuaichuan_markers markers;
  markers.download_url = last_group_text(object, download_url_pattern, page, download_url_closing);
  markers.file_name = last_group_text(object, file_name_pattern, page, file_name_closing);
  markers.size = last_group_text(object, size_pattern, page, size_closing);
  markers.key = last_group_text(object, key_pattern, page, key_closing);
  regex_release(object);
  return markers;
}

local_text decode_kuaichuan_file_name(std::string_view attribute_value) {
  // percent_decode reads its bytes as UTF-8, so a referenced character must
  // reach it as UTF-8 to arrive in local text.
  return percent_decode(decode_char_refs(attribute_value));
}

resolved_file kuaichuan_fields(const kuaichuan_markers& markers) {
  resolved_file file;
  // Both are attribute values: a browser following the link or showing the name
  // would have decoded their character references. A value that is not UTF-8 is
  // read as GB18030, before and after its decoding.
  constexpr broken_bytes escaped = broken_bytes::escaped;
  file.download_url = utf8_or_gb18030(decode_char_refs(utf8_or_gb18030(markers.download_url, escaped)), escaped);
  file.file_name = utf8_or_gb18030(decode_kuaichuan_file_name(utf8_or_gb18030(markers.file_name)));
  file.file_type = classify_file_type(file.file_name);
  file.size = format_size(to_number(utf8_or_gb18030(markers.size)));
  file.md5 = utf8_or_gb18030(markers.key);
  return file;
}

resolved_file parse_kuaichuan_page(std::string_view page_text) {
  return kuaichuan_fields(find_kuaichuan_markers(page_text));
}

}  // namespace sharelink
