#include "testing/reference/pan.h"

#include <string_view>

#include "codec/percent.h"
#include "codec/gb18030.h"
#include "reading/decode_steps.h"
#include "reading/file_type.h"
#include "reading/last_match.h"
#include "reading/size_format.h"
#include "runtime/pattern.h"

namespace sharelink {
namespace {

// The keys of the page's escaped data object. Each pattern names backslashes only
// as "\\+", so a run of them reads the same as one. A key is matched whole: the
// quote before it belongs to the pattern, so "block_md5" is never the md5 and
// "filesize" never the size.
constexpr field_pattern download_url_field = {R"re(\x22dlink\\+\x22:\\+\x22(.*?)(\\+"+\}))re", "\"}",
                                              end_of_last_escaped_brace, true};
constexpr field_pattern file_name_field = {R"re(filename=(.*?)(\\+\x22))re", R"(\")", nullptr, true};
constexpr field_pattern size_field = {R"re(\x22size\\+\x22:\\+\x22(.*?)(\\+\x22))re", R"(\")", nullptr, true};
constexpr field_pattern md5_field = {R"re(\x22md5\\+\x22:\\+\x22(.*?)(\\+\x22))re", R"(\")", nullptr, true};

}  // namespace

pan_markers find_pan_markers(std::string_view page_text) {
  const std::string_view page = as_local(page_text);
  pattern_object object = regex_create();

  pan_markers markers;
  markers.download_url = last_group_text(object, download_url_field, page);
  markers.file_name = last_group_text(object, file_name_field, page);
  markers.size = last_group_text(object, size_field, page);
  markers.md5 = last_group_text(object, md5_field, page);
  regex_release(object);
  return markers;
}

resolved_file pan_fields(const pan_markers& markers) {
  resolved_file file;
  // A value that is not UTF-8 is read as GB18030, before and after its decoding.
  constexpr broken_bytes escaped = broken_bytes::escaped;
  file.download_url = utf8_or_gb18030(unescape_slashes(utf8_or_gb18030(markers.download_url, escaped)), escaped);
  file.file_name = utf8_or_gb18030(percent_decode(utf8_or_gb18030(markers.file_name)));
  file.file_type = classify_file_type(file.file_name);
  // The size is read at single precision and widened back.
  file.size = format_size(to_single(utf8_or_gb18030(markers.size)));
  file.md5 = utf8_or_gb18030(markers.md5);
  return file;
}

resolved_file parse_pan_page(std::string_view page_text) {
  return pan_fields(find_pan_markers(page_text));
}

}  // namespace sharelink
