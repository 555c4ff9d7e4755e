#include "reading/start_tags.h"

#include <array>
#include <cstddef>
#include <vector>

#include "codec/ascii_case.h"

namespace sharelink {
namespace {

constexpr std::size_t npos = std::string_view::npos;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::size_t skip_blanks(std::string_view page, std::size_t at) {
  while (at < page.size() && is_blank(page[at])) ++at;
  return at;
}

/// Elements whose text is not markup.
bool holds_raw_text(std::string_view tag_name) {
  static constexpr std::array<std::string_view, 4> names = {"script", "style", "title", "textarea"};
  for (std::string_view name : names)
    if (equals_ignoring_case(tag_name, name)) return true;
  return false;
}

/// Where the end tag of a raw-text element named `tag_name` starts at or after
/// `from`, or npos.
std::size_t find_end_tag(std::string_view page, std::size_t from, std::string_view tag_name) {
  for (std::size_t at = page.find("</", from); at != npos; at = page.find("</", at + 2)) {
    const std::size_t name_end = at + 2 + tag_name.size();
    if (name_end > page.size()) return npos;
    if (!equals_ignoring_case(page.substr(at + 2, tag_name.size()), tag_name)) continue;
    if (name_end == page.size() || is_blank(page[name_end]) || page[name_end] == '>' || page[name_end] == '/')
      return at;
  }
  return npos;
}

/// Reads the attributes of a start tag from `at` (just after its name) into
/// `attributes`; returns the position after its ">", or npos when the page ends first.
std::size_t read_attributes(std::string_view page, std::size_t at, std::vector<tag_attribute>& attributes) {
  const std::size_t n = page.size();
  while (true) {
    while (at < n && (is_blank(page[at]) || page[at] == '/')) ++at;
    if (at >= n) return npos;
    if (page[at] == '>') return at + 1;

    // A name runs to a blank, "/", ">" or "=", though an "=" may be its first character.
    const std::size_t name_start = at++;
    while (at < n && !is_blank(page[at]) && page[at] != '/' && page[at] != '>' && page[at] != '=') ++at;
    tag_attribute attribute{page.substr(name_start, at - name_start), {}};

    const std::size_t after_name = skip_blanks(page, at);
    if (after_name < n && page[after_name] == '=') {
      at = skip_blanks(page, after_name + 1);
      if (at >= n) return npos;
      const char quote = page[at];
      if (quote == '"' || quote == '\'') {
        const std::size_t close = page.find(quote, at + 1);
        if (close == npos) return npos;
        attribute.value = page.substr(at + 1, close - at - 1);
        at = close + 1;
      } else {
        const std::size_t value_start = at;
        while (at < n && !is_blank(page[at]) && page[at] != '>') ++at;
        attribute.value = page.substr(value_start, at - value_start);
      }
    } else {
      at = after_name;
    }
    attributes.push_back(attribute);
  }
}

}  // namespace

void for_each_start_tag(std::string_view page,
                        const std::function<void(std::span<const tag_attribute>)>& visit, bool everywhere) {
  std::vector<tag_attribute> attributes;
  std::size_t at = 0;
  while ((at = page.find('<', at)) != npos) {
    const std::string_view rest = page.substr(at + 1);
    if (everywhere && rest.starts_with('!')) {  // what a comment or declaration holds is read on
      ++at;
      continue;
    }
    if (rest.starts_with("!--")) {
      // "<!-->" and "<!--->" end where they stand.
      const std::size_t close = page.find("-->", at + 2);
      if (close == npos) return;
      at = close + 3;
      continue;
    }
    if (!rest.empty() && (rest[0] == '/' || rest[0] == '!' || rest[0] == '?')) {
      const std::size_t close = page.find('>', at + 1);
      if (close == npos) return;
      at = close + 1;
      continue;
    }
    if (rest.empty() || !is_ascii_letter(rest[0])) {
      ++at;
      continue;
    }

    std::size_t name_end = at + 1;
    while (name_end < page.size() && !is_blank(page[name_end]) && page[name_end] != '/' && page[name_end] != '>')
      ++name_end;
    const std::string_view name = page.substr(at + 1, name_end - at - 1);
    attributes.clear();
    at = read_attributes(page, name_end, attributes);
    if (at == npos) return;
    visit(attributes);
    if (!everywhere && holds_raw_text(name)) {
      at = find_end_tag(page, at, name);
      if (at == npos) return;
    }
  }
}

}  // namespace sharelink
