#include "runtime/pattern.h"

#include <algorithm>
#include <climits>
#include <cstddef>

#include SHARELINK_REGEX_TRAITS_HEADER

namespace sharelink {

using expression = boost::basic_regex<char, regex_traits>;

struct pattern_object::impl {
  expression compiled;  // empty() until a compile succeeds
};

pattern_object::pattern_object() : impl_(std::make_unique<impl>()) {}
pattern_object::~pattern_object() = default;
pattern_object::pattern_object(pattern_object&&) noexcept = default;
pattern_object& pattern_object::operator=(pattern_object&&) noexcept = default;

pattern_object regex_create() { return {}; }

bool regex_compile(pattern_object& object, std::string_view pattern, bool case_sensitive) {
  const std::string_view source = as_local(pattern);
  const auto syntax = case_sensitive ? boost::regex_constants::perl
                                     : boost::regex_constants::perl | boost::regex_constants::icase;
  try {
    expression compiled(source.data(), source.data() + source.size(), syntax);
    if (object.get() == nullptr) object = pattern_object();  // a moved-from object
    object.get()->compiled.swap(compiled);
    return true;
  } catch (...) {
    // regex_error for a malformed pattern, bad_alloc, or anything else the engine
    // throws: the previous expression stays.
    return false;
  }
}

namespace {

match_span span_of(const boost::sub_match<const char*>& group, const char* buffer) {
  match_span span;
  span.matched = group.matched;
  if (group.matched) {
    // The searched text is at most INT_MAX bytes, so both values fit.
    span.offset = static_cast<std::int32_t>(group.first - buffer);
    span.length = static_cast<std::int32_t>(group.second - group.first);
  }
  return span;
}

}  // namespace

match_list regex_search_all(const pattern_object& object, std::string_view text) {
  bool gave_up = false;
  return regex_search_all(object, text, gave_up);
}

int regex_group_number(const pattern_object& object, std::string_view name) {
  const pattern_object::impl* holder = object.get();
  if (holder == nullptr || holder->compiled.empty() || name.empty()) return -1;
  return holder->compiled.get_named_subs()->get_id(name.data(), name.data() + name.size());
}

match_list regex_search_all(const pattern_object& object, std::string_view text, bool& gave_up) {
  gave_up = false;
  match_list found;
  const pattern_object::impl* holder = object.get();
  if (holder == nullptr || holder->compiled.empty()) return found;

  std::string_view buffer = as_local(text);
  // Offsets are 32-bit; a longer text is searched only in its first INT_MAX bytes.
  if (buffer.size() > static_cast<std::size_t>(INT_MAX)) buffer = buffer.substr(0, INT_MAX);
  if (buffer.empty()) return found;

  const char* const start = buffer.data();
  const char* const end = start + buffer.size();
  const auto flags = boost::regex_constants::format_all;
  boost::match_results<const char*> match;
  const char* from = start;
  try {
    // Each continuation uses its own start as the base, so "^", "\b" and
    // look-behind treat it as the start of the text.
    while (boost::regex_search(from, end, match, holder->compiled, flags, from)) {
      search_result result;
      result.spans.reserve(match.size());
      for (std::size_t i = 0; i < match.size(); ++i) result.spans.push_back(span_of(match[i], start));
      found.push_back(std::move(result));
      // An empty match would be found again at the same place: the search ends
      // there, wherever it lies.
      if (match[0].first == match[0].second) break;
      from = match[0].second;
    }
  } catch (...) {
    // Complexity or memory limit of the engine: keep the matches found so far.
    gave_up = true;
  }
  return found;
}

match_at_outcome regex_match_at(const pattern_object& object, std::string_view text, std::size_t at,
                                search_result& result) {
  result.spans.clear();
  const pattern_object::impl* holder = object.get();
  if (holder == nullptr || holder->compiled.empty()) return match_at_outcome::gave_up;
  std::string_view buffer = as_local(text);
  if (buffer.size() > static_cast<std::size_t>(INT_MAX)) buffer = buffer.substr(0, INT_MAX);
  if (at >= buffer.size()) return match_at_outcome::no_match;

  const char* const start = buffer.data();
  const char* const from = start + at;
  boost::match_results<const char*> match;
  try {
    const auto flags = boost::regex_constants::format_all | boost::regex_constants::match_continuous;
    if (!boost::regex_search(from, start + buffer.size(), match, holder->compiled, flags, from)) {
      return match_at_outcome::no_match;
    }
  } catch (...) {
    return match_at_outcome::gave_up;
  }
  result.spans.reserve(match.size());
  for (std::size_t i = 0; i < match.size(); ++i) result.spans.push_back(span_of(match[i], start));
  return match_at_outcome::matched;
}

local_text match_group_text(const search_result& result, std::string_view text, int index,
                            int* start) {
  if (result.spans.empty()) return {};
  if (index < 0 || static_cast<std::size_t>(index) >= result.spans.size()) return {};
  const match_span& span = result.spans[static_cast<std::size_t>(index)];
  if (!span.matched) return {};
  if (start != nullptr) *start = span.offset;
  if (span.offset < 0 || span.length <= 0) return {};
  // Never read past the given text, whatever the span says.
  const std::size_t offset = static_cast<std::size_t>(span.offset);
  if (offset >= text.size()) return {};
  const std::size_t length = std::min(static_cast<std::size_t>(span.length), text.size() - offset);
  return local_text(text.substr(offset, length));
}

search_result match_create() { return {}; }

void match_release(search_result& result) {
  result.spans.clear();
  result.spans.shrink_to_fit();
}

void regex_release(pattern_object& object) {
  if (object.get() != nullptr) object.get()->compiled = expression();
}

}  // namespace sharelink
