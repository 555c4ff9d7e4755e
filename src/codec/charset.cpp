#include "codec/charset.h"

#include "codec/ascii_case.h"

namespace sharelink {
namespace {

// Where a page's <meta> may declare its character set, and how far past its start
// one tag may run.
constexpr std::size_t meta_window = 4096;
constexpr std::size_t longest_tag = 4096;

constexpr bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

constexpr bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == ':';
}

/// The position of `word` in `text` at or after `from`, in any case of its letters.
std::size_t find_ignoring_case(std::string_view text, std::string_view word, std::size_t from = 0) {
  for (std::size_t at = from; at + word.size() <= text.size(); ++at)
    if (starts_with_ignoring_case(text.substr(at), word)) return at;
  return std::string_view::npos;
}

/// The value of the first "charset=NAME" in `text` (blanks around '=', the name
/// maybe quoted), in lower case; empty when there is none.
std::string charset_parameter(std::string_view text) {
  for (std::size_t at = find_ignoring_case(text, "charset"); at != std::string_view::npos;
       at = find_ignoring_case(text, "charset", at + 1)) {
    std::size_t i = at + 7;
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i >= text.size() || text[i] != '=') continue;
    ++i;
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i < text.size() && (text[i] == '"' || text[i] == '\'')) ++i;
    const std::size_t begin = i;
    while (i < text.size() && is_name_char(text[i])) ++i;
    if (i > begin) return ascii_lower(text.substr(begin, i - begin));
  }
  return {};
}

/// The character set the first <meta> tag that names one declares, among those that
/// begin in the first meta_window bytes of `body`.
std::string meta_charset(std::string_view body) {
  const std::string_view head = body.substr(0, meta_window);
  for (std::size_t at = find_ignoring_case(head, "<meta"); at != std::string_view::npos;
       at = find_ignoring_case(head, "<meta", at + 5)) {
    if (at + 5 < body.size() && !is_blank(body[at + 5]) && body[at + 5] != '/') continue;  // <metadata>
    const std::string_view rest = body.substr(at, longest_tag);
    const std::string_view tag = rest.substr(0, rest.find('>'));
    if (std::string charset = charset_parameter(tag); !charset.empty()) return charset;
  }
  return {};
}

}  // namespace

std::string declared_charset(std::string_view content_type, std::string_view body) {
  if (body.starts_with("\xEF\xBB\xBF")) return "utf-8";
  if (std::string charset = charset_parameter(content_type); !charset.empty()) return charset;
  // A page whose <meta> could be read as ASCII is no UTF-16, whatever it says; as
  // browsers do, it is taken for UTF-8.
  std::string charset = meta_charset(body);
  return charset.starts_with("utf-16") ? "utf-8" : charset;
}

std::string charset_name(std::string_view charset) {
  struct other_name {
    std::string_view name, usual;
  };
  static constexpr other_name names[] = {
      {"utf8", "utf-8"},           {"unicode-1-1-utf-8", "utf-8"}, {"x-unicode20utf8", "utf-8"},
      {"gb2312", "gbk"},           {"gb_2312", "gbk"},             {"gb_2312-80", "gbk"},
      {"x-gbk", "gbk"},            {"cp936", "gbk"},               {"ms936", "gbk"},
      {"windows-936", "gbk"},      {"chinese", "gbk"},             {"csgb2312", "gbk"},
      {"csiso58gb231280", "gbk"},  {"iso-ir-58", "gbk"},           {"euc-cn", "gbk"},
      {"x-euc-cn", "gbk"},         {"big5-hkscs", "big5"},         {"cn-big5", "big5"},
      {"csbig5", "big5"},          {"x-x-big5", "big5"},           {"sjis", "shift_jis"},
      {"shift-jis", "shift_jis"},  {"x-sjis", "shift_jis"},        {"ms_kanji", "shift_jis"},
      {"csshiftjis", "shift_jis"}, {"windows-31j", "shift_jis"},   {"ms932", "shift_jis"},
      {"cp932", "shift_jis"},      {"ks_c_5601-1987", "euc-kr"},   {"ksc5601", "euc-kr"},
      {"korean", "euc-kr"},        {"windows-949", "euc-kr"},      {"cp949", "euc-kr"},
      {"cseuckr", "euc-kr"},       {"ascii", "windows-1252"},      {"us-ascii", "windows-1252"},
      {"iso-8859-1", "windows-1252"}, {"iso8859-1", "windows-1252"}, {"iso_8859-1", "windows-1252"},
      {"latin1", "windows-1252"},  {"l1", "windows-1252"},         {"cp1252", "windows-1252"},
      {"x-cp1252", "windows-1252"}, {"cp819", "windows-1252"},     {"ansi_x3.4-1968", "windows-1252"},
  };
  const std::string lower = ascii_lower(charset);
  for (const other_name& n : names)
    if (lower == n.name) return std::string(n.usual);
  // cp1250 to cp1258 are windows-1250 to windows-1258.
  if (lower.size() == 6 && lower.starts_with("cp125")) return "windows-" + lower.substr(2);
  return lower;
}

}  // namespace sharelink
