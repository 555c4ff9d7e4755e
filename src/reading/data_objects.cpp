#include "reading/data_objects.h"

#include <algorithm>

namespace sharelink {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr std::size_t max_depth = 64;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::size_t skip_blanks(std::string_view page, std::size_t at) {
  while (at < page.size() && is_blank(page[at])) ++at;
  return at;
}

/// When a quote (at least `least` backslashes and '"') starts at `at`: the position
/// after it; else npos.
std::size_t after_quote(std::string_view page, std::size_t at, std::size_t least) {
  std::size_t end = at;
  while (end < page.size() && page[end] == '\\') ++end;
  return end - at >= least && end < page.size() && page[end] == '"' ? end + 1 : npos;
}

/// The fewest backslashes that quote a marker key in `page` (1 when there is none).
/// Data escaped twice is wrapped in quotes of fewer backslashes than its own
/// ("\"{\\\"dlink\\\":...}\""): those are no quotes of the data, or the wrapper
/// would read as one string holding the whole object.
std::size_t fewest_quoting_backslashes(std::string_view page, std::string_view key) {
  std::size_t fewest = npos;
  std::size_t run_end = 0;  // where the last run of backslashes looked at ends
  for (std::size_t at = page.find(key); at != npos && fewest > 1; at = page.find(key, at + 1)) {
    // A key that ends in a backslash is found again inside the same run: the run is
    // not counted again, or a long one would take time in its length squared.
    std::size_t end = std::max(at + key.size(), run_end);
    while (end < page.size() && page[end] == '\\') ++end;
    run_end = end;
    const std::size_t run = end - (at + key.size());
    if (run > 0 && end < page.size() && page[end] == '"') fewest = std::min(fewest, run);
  }
  return fewest == npos ? 1 : fewest;
}

/// A string whose text starts at `from`: its text, and the position after its
/// closing quote (npos when the page ends first). Its own quotes have `least`
/// backslashes; each escaping of the data doubles a backslash of the data and adds
/// one to a quote, so a run of `least` + 2(`least` + 1)k backslashes and a quote
/// ends the string (after k backslashes of the data), and any other run is a quote
/// or backslashes inside it. With one backslash to a quote, \"a\\\"b\" holds a"b.
struct string_token {
  std::string_view text;
  std::size_t end = npos;
};

string_token read_string(std::string_view page, std::size_t from, std::size_t least) {
  for (std::size_t quote = page.find('"', from); quote != npos; quote = page.find('"', quote + 1)) {
    std::size_t run = quote;
    while (run > from && page[run - 1] == '\\') --run;
    const std::size_t backslashes = quote - run;
    if (backslashes >= least && (backslashes - least) % (2 * (least + 1)) == 0)
      return {page.substr(from, quote - least - from), quote + 1};
  }
  return {};
}

/// A bare value (a number written without quotes) from `at`.
std::string_view read_bare(std::string_view page, std::size_t at) {
  std::size_t end = at;
  while (end < page.size() && !is_blank(page[end]) && page[end] != ',' && page[end] != '}' &&
         page[end] != ']' && page[end] != '\\' && page[end] != '"')
    ++end;
  return page.substr(at, end - at);
}

struct container {
  bool is_object = false;
  bool marked = false;  // holds the marker key
  data_object values;
};

class scanner {
 public:
  scanner(std::string_view page, const data_object_keys& keys)
      : page_(page), keys_(keys), least_(fewest_quoting_backslashes(page, keys.marker)) {}

  std::vector<data_object> run() {
    std::size_t at = 0;
    while (at < page_.size()) {
      const char c = page_[at];
      if (c == '\\') {
        const std::size_t text_start = after_quote(page_, at, least_);
        if (text_start == npos) {
          while (at < page_.size() && page_[at] == '\\') ++at;
          continue;
        }
        at = read_string_and_value(text_start);
        continue;
      }
      if (c == '{' || c == '[') open(c == '{', at);
      if (c == '}' || c == ']') close(c == '}');
      ++at;
    }
    // Objects left open when the page ends are not complete records.
    std::stable_sort(found_.begin(), found_.end(),
                     [](const data_object& a, const data_object& b) { return a.open < b.open; });
    return std::move(found_);
  }

 private:
  /// Reads a string from `text_start` and, when it is a key, its value; returns
  /// where reading goes on (the page's end when a string is cut short).
  std::size_t read_string_and_value(std::size_t text_start) {
    const string_token token = read_string(page_, text_start, least_);
    if (token.end == npos) return page_.size();
    const std::size_t colon = skip_blanks(page_, token.end);
    if (colon >= page_.size() || page_[colon] != ':') {
      note_string(token.text);
      return token.end;
    }
    const std::size_t value_at = skip_blanks(page_, colon + 1);
    const std::size_t value_text_start = after_quote(page_, value_at, least_);
    if (value_text_start == npos) {
      if (!keys_.keys[keys_.bare_field].empty() && token.text == keys_.keys[keys_.bare_field] &&
          value_at < page_.size()) {
        const std::string_view bare = read_bare(page_, value_at);
        if (!bare.empty()) {
          if (container* object = own_object()) {
            object->values.values[keys_.bare_field] = bare;
            object->values.has[keys_.bare_field] = true;
          }
          return value_at + bare.size();
        }
      }
      return value_at;
    }
    const string_token value = read_string(page_, value_text_start, least_);
    if (value.end == npos) return page_.size();
    note_string(value.text);
    if (container* object = own_object()) {
      if (token.text == keys_.marker) object->marked = true;
      for (std::size_t i = 0; i < keys_.keys.size(); ++i) {
        if (keys_.keys[i].empty() || token.text != keys_.keys[i]) continue;
        object->values.values[i] = value.text;
        object->values.has[i] = true;
      }
    }
    return value.end;
  }

  /// A string of the innermost object: the last one holding `after` gives its value.
  void note_string(std::string_view text) {
    if (keys_.after.empty()) return;
    container* object = own_object();
    if (object == nullptr) return;
    const std::size_t marker = text.find(keys_.after);
    if (marker == npos) return;
    object->values.values[keys_.after_field] = text.substr(marker + keys_.after.size());
    object->values.has[keys_.after_field] = true;
  }

  /// The innermost container when it is an object that is read, else null.
  container* own_object() {
    if (passed_over_ > 0 || stack_.empty() || !stack_.back().is_object) return nullptr;
    return &stack_.back();
  }

  void open(bool is_object, std::size_t at) {
    if (passed_over_ > 0 || stack_.size() >= max_depth) {
      ++passed_over_;
      return;
    }
    container opened;
    opened.is_object = is_object;
    opened.values.open = at;
    stack_.push_back(std::move(opened));
    (is_object ? objects_ : arrays_) += 1;
  }

  // A "}" closes the innermost open object and whatever arrays are open inside it,
  // a "]" the same for arrays; one with nothing of its kind open is ignored.
  void close(bool is_object) {
    if (passed_over_ > 0) {
      --passed_over_;
      return;
    }
    if ((is_object ? objects_ : arrays_) == 0) return;
    while (true) {
      container top = std::move(stack_.back());
      stack_.pop_back();
      (top.is_object ? objects_ : arrays_) -= 1;
      if (top.is_object != is_object) continue;
      if (top.is_object && top.marked) found_.push_back(top.values);
      return;
    }
  }

  std::string_view page_;
  const data_object_keys& keys_;
  std::size_t least_;  // backslashes a quote of the data needs
  std::vector<container> stack_;
  std::size_t objects_ = 0, arrays_ = 0;
  std::size_t passed_over_ = 0;  // containers opened beyond max_depth, still open
  std::vector<data_object> found_;
};

}  // namespace

std::vector<data_object> find_data_objects(std::string_view page, const data_object_keys& keys) {
  return scanner(page, keys).run();
}

}  // namespace sharelink
