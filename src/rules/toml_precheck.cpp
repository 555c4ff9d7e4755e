#include "rules/toml_precheck.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "codec/utf8.h"

namespace sharelink {

namespace {

class scanner {
 public:
  explicit scanner(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
  }

  /// Characters to write as escapes, found by run(): where each begins, and what it is.
  std::vector<std::pair<std::size_t, utf8_char>> escapes;

  std::optional<toml_precheck_problem> run() {
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (outside_ascii(c)) return problem("a character outside ASCII may stand only in a string or a comment");
      if (c == '#') {
        in_bare_value_ = false;
        skip_until_line_end();
      } else if (in_bare_value_ && !ends_bare_value(c)) {
        step();
      } else if ((c == '"' || c == '\'') && starts_string()) {
        const std::string_view three(c == '"' ? "\"\"\"" : "'''");
        if (text_.substr(at_, 3) == three) {
          if (c == '\'') {
            multi_line_literal();
          } else if (auto p = multi_line_basic()) {
            return p;
          }
        } else {
          single_line(c, c == '"');
        }
      } else {
        if (c == '[' && expecting_key_ && nesting_.empty()) {
          if (auto p = header_start()) return p;
        }
        in_bare_value_ = !expecting_key_ && !ends_bare_value(c) && !opens_or_closes(c);
        follow_structure(c);
        step();
      }
    }
    return std::nullopt;
  }

 private:
  static bool outside_ascii(char c) { return static_cast<unsigned char>(c) >= 0x80; }
  static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  // The reader reads a bare value (a number, a date, true) up to a blank, a
  // comma, a closing bracket or a '#', asking about every character on the way:
  // quotes, '=' and '[' inside it are part of it. Elsewhere a quote opens a
  // string only where a key or a value begins: after a blank or '=', '[', '{',
  // ',', and after the '.' of a dotted key.
  static bool ends_bare_value(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ']' || c == '}';
  }
  static bool opens_or_closes(char c) { return c == '=' || c == '[' || c == '{'; }

  bool starts_string() const {
    switch (previous_) {
      case '\0': case ' ': case '\t': case '\r': case '\n': case '=': case '[': case '{': case ',':
        return true;
      case '.':
        return expecting_key_;
      default:
        return false;
    }
  }

  // Keeps track of whether a key or a value comes next: keys at the start of a
  // line, in a table header and in an inline table until its '='.
  void follow_structure(char c) {
    switch (c) {
      case '\n':
        if (nesting_.empty()) expecting_key_ = true;
        break;
      case '=':
        expecting_key_ = false;
        break;
      case '[':
        nesting_.push_back(expecting_key_ && nesting_.empty() ? 'h' : '[');
        break;
      case '{':
        nesting_.push_back('{');
        expecting_key_ = true;
        break;
      case ',':
        if (!nesting_.empty() && nesting_.back() == '{') expecting_key_ = true;
        break;
      case ']':
      case '}':
        if (!nesting_.empty()) {
          if (nesting_.back() != 'h') expecting_key_ = false;
          nesting_.pop_back();
        }
        break;
      default:
        break;
    }
  }

  // Moves one byte on, keeping the line and the column (UTF-8 lead bytes) counted.
  void step() {
    const char c = text_[at_++];
    previous_ = c;
    if (c == '\n') {
      ++line_;
      column_ = 1;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++column_;
    }
  }
  void step(std::size_t n) {
    while (n-- > 0 && at_ < text_.size()) step();
  }

  toml_precheck_problem problem(const char* what) const { return {line_, column_, what}; }

  // The reader takes it for granted that what follows a table header's "[" or
  // "[[" and its blanks is a key's first character, a quote, or the "]" it
  // refuses itself: anything else there ("[[[", "[ ,", "[" ending its line) trips
  // an assertion in the reader, and is undefined in a build without them. A
  // second "[" after blanks the reader refuses too.
  std::optional<toml_precheck_problem> header_start() const {
    std::size_t i = at_ + 1;
    const auto skip_blanks = [&] {
      const std::size_t from = i;
      while (i < text_.size() && (text_[i] == ' ' || text_[i] == '\t')) ++i;
      return i > from;
    };
    const bool blanks = skip_blanks();
    if (!blanks && i < text_.size() && text_[i] == '[') {
      ++i;
      skip_blanks();
    }
    if (i >= text_.size()) return std::nullopt;  // the reader says where the file ends
    const char c = text_[i];
    const bool key_start = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '-' || c == '"' || c == '\'' || c == ']';
    if (key_start || (blanks && c == '[')) return std::nullopt;
    return problem("a table header begins with a key: [name] or [[name]]");
  }

  void skip_until_line_end() {
    while (at_ < text_.size() && text_[at_] != '\n') step();
  }

  // A one-line string; ends at its closing quote or, unclosed, at the line's end
  // (the reader refuses that).
  void single_line(char quote, bool escapes) {
    step();
    while (at_ < text_.size() && text_[at_] != '\n') {
      const char c = text_[at_];
      step();
      if (c == quote) return;
      if (escapes && c == '\\' && at_ < text_.size() && text_[at_] != '\n') step();
    }
  }

  // The closing delimiter of a multi-line string, with the up to two quotes that
  // may stand right before it as content.
  bool at_multi_line_end(char quote) const {
    const std::string_view three(quote == '"' ? "\"\"\"" : "'''");
    return text_.substr(at_, 3) == three;
  }
  void step_over_closing(char quote) {
    std::size_t run = 0;
    while (at_ + run < text_.size() && text_[at_ + run] == quote && run < 5) ++run;
    step(run);
  }

  void multi_line_literal() {
    step(3);
    while (at_ < text_.size()) {
      if (at_multi_line_end('\'')) return step_over_closing('\'');
      step();
    }
  }

  std::optional<toml_precheck_problem> multi_line_basic() {
    step(3);
    while (at_ < text_.size()) {
      if (at_multi_line_end('"')) {
        step_over_closing('"');
        return std::nullopt;
      }
      if (text_[at_] != '\\') {
        step();
        continue;
      }
      step();
      if (at_ >= text_.size()) break;
      if (outside_ascii(text_[at_])) return problem("a backslash must not stand before a character outside ASCII");
      if (!blank(text_[at_])) {
        step();  // an escape such as \" or \\ or \u
        continue;
      }
      // A line-ending backslash: the reader passes over the blanks that follow it
      // and asks about the first character after them, which goes as its escape.
      const int line = line_;
      while (at_ < text_.size() && blank(text_[at_])) step();
      if (at_ < text_.size() && outside_ascii(text_[at_]) && line_ == line)
        return problem("a backslash followed by blanks must end its line");
      if (at_ < text_.size() && outside_ascii(text_[at_])) {
        const utf8_char c = read_utf8(text_, at_);
        if (c.length > 0) escapes.push_back({at_, c});
      }
    }
    return std::nullopt;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  int line_ = 1;
  int column_ = 1;
  char previous_ = '\0';
  bool expecting_key_ = true;
  bool in_bare_value_ = false;
  std::string nesting_;  // '[' array, '{' inline table, 'h' table header
};

}  // namespace

toml_precheck precheck_toml(std::string_view text) {
  scanner scan(text);
  toml_precheck checked;
  checked.problem = scan.run();
  if (checked.problem) return checked;
  std::size_t copied = 0;
  for (const auto& [at, c] : scan.escapes) {
    checked.text.append(text.substr(copied, at - copied));
    char escape[11];
    std::snprintf(escape, sizeof escape, "\\U%08X", static_cast<unsigned>(c.code_point));
    checked.text += escape;
    copied = at + c.length;
  }
  checked.text.append(text.substr(copied));
  return checked;
}

}  // namespace sharelink
