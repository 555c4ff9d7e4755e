#include "resolve/kuaichuan.h"

#include <string_view>

#include "codec/percent.h"
#include "resolve/file_type.h"
#include "resolve/page_fields.h"
#include "resolve/size_format.h"
#include "runtime/fetch.h"
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

resolved_file parse_kuaichuan_page(std::string_view page_text) {
  const std::string_view page = as_local(page_text);
  pattern_object object = regex_create();

  resolved_file file;
  file.download_url = last_group_text(object, download_url_pattern, page, download_url_closing);
  file.file_name = percent_decode(last_group_text(object, file_name_pattern, page, file_name_closing));
  const double size = to_number(last_group_text(object, size_pattern, page, size_closing));
  file.md5 = last_group_text(object, key_pattern, page, key_closing);
  regex_release(object);

  file.file_type = classify_file_type(file.file_name);
  file.size = format_size(size);
  return file;
}

resolved_file resolve_kuaichuan(std::string_view share_address) {
  return parse_kuaichuan_page(to_text(fetch_page(share_address)));
}

}  // namespace sharelink
