#pragma once
// Checks that hold for the fields parsed from any page of either service.
#include <string_view>

#include "check.h"
#include "codec/utf8.h"
#include "reading/file_type.h"
#include "resolve/named_services.h"

namespace sharelink::fuzz {

inline void check_fields(const resolved_file& fields, std::string_view page) {
  for (const local_text* field :
       {&fields.download_url, &fields.file_name, &fields.file_type, &fields.size, &fields.md5})
    check(!has_zero_byte(*field), "a field holds a zero byte");
  // A byte that is no character of the page's encoding becomes U+FFFD, three bytes
  // (and a GB18030 character of two bytes is three in UTF-8).
  check(fields.download_url.size() <= 3 * page.size(), "download address longer than three times the page");
  check(fields.file_name.size() <= 3 * page.size(), "file name longer than three times the page");
  // Of a page that is not UTF-8, values are read as GB18030 where they are that.
  check(fields.md5.empty() || !is_utf8(as_local(page)) || page.find(fields.md5) != std::string_view::npos,
        "MD5 text is not taken from the page");
  check(fields.file_type == classify_file_type(fields.file_name),
        "file type does not follow from the file name");
  check(!fields.size.empty() && fields.size.size() <= 7 && fields.size.back() == 'B',
        "size text is not a formatted size");
}

}  // namespace sharelink::fuzz
