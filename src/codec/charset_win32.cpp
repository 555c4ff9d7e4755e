// Character sets other than UTF-8 and GB18030, read with the system's code pages.
#include <windows.h>

#include "codec/charset.h"
#include "codec/wide_win32.h"

namespace sharelink {
namespace {

/// The code page of `charset`, or 0 when this table has none.
unsigned code_page_of(std::string_view charset) {
  struct named_page {
    std::string_view name;
    unsigned page;
  };
  static constexpr named_page pages[] = {
      {"big5", 950},          {"shift_jis", 932},     {"euc-kr", 949},        {"windows-874", 874},
      {"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1252", 1252}, {"windows-1253", 1253},
      {"windows-1254", 1254}, {"windows-1255", 1255}, {"windows-1256", 1256}, {"windows-1257", 1257},
      {"windows-1258", 1258}, {"iso-8859-2", 28592},  {"iso-8859-3", 28593},  {"iso-8859-4", 28594},
      {"iso-8859-5", 28595},  {"iso-8859-6", 28596},  {"iso-8859-7", 28597},  {"iso-8859-8", 28598},
      {"iso-8859-9", 28599},  {"iso-8859-13", 28603}, {"iso-8859-15", 28605}, {"koi8-r", 20866},
      {"koi8-u", 21866},      {"ibm866", 866},        {"macintosh", 10000},
  };
  for (const named_page& p : pages)
    if (p.name == charset) return p.page;
  return 0;
}

}  // namespace

std::optional<std::string> system_charset_to_utf8(std::string_view charset, std::string_view bytes) {
  const unsigned page = code_page_of(charset);
  if (page == 0 || !IsValidCodePage(page)) return std::nullopt;
  // Each byte that begins no character becomes the code page's default character.
  return from_wide(to_wide(bytes, page), CP_UTF8);
}

}  // namespace sharelink
