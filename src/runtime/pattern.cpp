#include "runtime/pattern.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <iterator>
#include <limits>

#include SHARELINK_REGEX_TRAITS_HEADER

namespace sharelink {

using expression = boost::basic_regex<char, regex_traits>;

namespace {

/// Thrown through the engine when a search's budget is exhausted.
struct budget_exhausted {};

/// Reads spent between two looks at the budget and the flag.
constexpr std::uint32_t reads_per_block = 4096;

// The engine searches through this iterator instead of a plain pointer: each byte
// it reads is counted against the search's budget, and when that is exhausted
// the read throws, which ends the search wherever the engine is in it. Nothing
// else about the text changes: it is the same bytes, read at random access.
class metered_iterator {
 public:
  using iterator_category = std::random_access_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  metered_iterator() = default;
  metered_iterator(const char* at, search_budget* budget) : at_(at), budget_(budget) {}

  const char* base() const { return at_; }

  reference operator*() const {
    budget_->read();
    return *at_;
  }
  reference operator[](difference_type n) const {
    budget_->read();
    return at_[n];
  }
  pointer operator->() const { return at_; }

  metered_iterator& operator++() { ++at_; return *this; }
  metered_iterator operator++(int) { metered_iterator before = *this; ++at_; return before; }
  metered_iterator& operator--() { --at_; return *this; }
  metered_iterator operator--(int) { metered_iterator before = *this; --at_; return before; }
  metered_iterator& operator+=(difference_type n) { at_ += n; return *this; }
  metered_iterator& operator-=(difference_type n) { at_ -= n; return *this; }
  friend metered_iterator operator+(metered_iterator i, difference_type n) { return i += n; }
  friend metered_iterator operator+(difference_type n, metered_iterator i) { return i += n; }
  friend metered_iterator operator-(metered_iterator i, difference_type n) { return i -= n; }
  friend difference_type operator-(const metered_iterator& a, const metered_iterator& b) { return a.at_ - b.at_; }
  friend bool operator==(const metered_iterator& a, const metered_iterator& b) { return a.at_ == b.at_; }
  friend bool operator!=(const metered_iterator& a, const metered_iterator& b) { return a.at_ != b.at_; }
  friend bool operator<(const metered_iterator& a, const metered_iterator& b) { return a.at_ < b.at_; }
  friend bool operator>(const metered_iterator& a, const metered_iterator& b) { return a.at_ > b.at_; }
  friend bool operator<=(const metered_iterator& a, const metered_iterator& b) { return a.at_ <= b.at_; }
  friend bool operator>=(const metered_iterator& a, const metered_iterator& b) { return a.at_ >= b.at_; }

 private:
  const char* at_ = nullptr;
  search_budget* budget_ = nullptr;
};

}  // namespace

search_budget::search_budget() : search_budget(std::numeric_limits<std::uint64_t>::max()) {}

search_budget::search_budget(std::uint64_t reads, const std::atomic<bool>* cancel) : left_(reads), cancel_(cancel) {}

bool search_budget::cancelled() const { return cancel_ != nullptr && cancel_->load(); }

bool search_budget::exhausted() const { return spent_ || cancelled(); }

void search_budget::next_block() {
  if (left_ == 0 || cancelled()) spent_ = true;
  if (spent_) {
    countdown_ = 1;  // every later read throws too
    throw budget_exhausted{};
  }
  countdown_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(reads_per_block, left_));
  left_ -= countdown_;
}

struct pattern_object::impl {
  expression compiled;  // empty() until a compile succeeds
};

pattern_object::pattern_object() : impl_(std::make_unique<impl>()) {}
pattern_object::~pattern_object() = default;
pattern_object::pattern_object(pattern_object&&) noexcept = default;
pattern_object& pattern_object::operator=(pattern_object&&) noexcept = default;

pattern_object regex_create() { return {}; }

bool regex_compile(pattern_object& object, std::string_view pattern, bool case_sensitive, pattern_error* why) {
  const std::string_view source = as_local(pattern);
  const auto syntax = case_sensitive ? boost::regex_constants::perl
                                     : boost::regex_constants::perl | boost::regex_constants::icase;
  try {
    expression compiled(source.data(), source.data() + source.size(), syntax);
    if (object.get() == nullptr) object = pattern_object();  // a moved-from object
    object.get()->compiled.swap(compiled);
    return true;
  } catch (const boost::regex_error& error) {
    if (why != nullptr) {
      // The engine's text goes on to quote the pattern around the place; the
      // reason is what comes before that.
      std::string reason = error.what();
      if (const std::size_t quote = reason.find("  The error occurred"); quote != std::string::npos) reason.resize(quote);
      *why = {reason, static_cast<std::size_t>(std::max<std::ptrdiff_t>(error.position(), 0))};
    }
    return false;
  } catch (...) {
    // regex_error for a malformed pattern, bad_alloc, or anything else the engine
    // throws: the previous expression stays.
    return false;
  }
}

namespace {

match_span span_of(const boost::sub_match<metered_iterator>& group, const char* buffer) {
  match_span span;
  span.matched = group.matched;
  if (group.matched) {
    // The searched text is at most INT_MAX bytes, so both values fit.
    span.offset = static_cast<std::int32_t>(group.first.base() - buffer);
    span.length = static_cast<std::int32_t>(group.second - group.first);
  }
  return span;
}

void fill(search_result& result, const boost::match_results<metered_iterator>& match, const char* buffer) {
  result.spans.clear();
  result.spans.reserve(match.size());
  for (std::size_t i = 0; i < match.size(); ++i) result.spans.push_back(span_of(match[i], buffer));
}

/// The part of `text` a search covers: offsets are 32-bit, so a longer text is
/// searched only in its first INT_MAX bytes.
std::string_view searchable(std::string_view text) {
  std::string_view buffer = as_local(text);
  if (buffer.size() > static_cast<std::size_t>(INT_MAX)) buffer = buffer.substr(0, INT_MAX);
  return buffer;
}

}  // namespace

int regex_group_count(const pattern_object& object) {
  const pattern_object::impl* holder = object.get();
  if (holder == nullptr || holder->compiled.empty()) return 0;
  return static_cast<int>(holder->compiled.mark_count());
}

std::vector<std::string> regex_group_names(const pattern_object& object) {
  std::vector<std::string> names;
  const pattern_object::impl* holder = object.get();
  if (holder == nullptr || holder->compiled.empty()) return names;
  // The engine keeps its names only by hash; the pattern's text says which they
  // are. Every "(?<" or "(?'" outside a class and not escaped is a candidate, and
  // the engine has the last word on each, so that a quoted text (\Q...\E) or a
  // look-behind ("(?<=", "(?<!") never counts.
  const std::string source = holder->compiled.str();
  bool in_class = false;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const char c = source[i];
    if (c == '\\') {
      ++i;
    } else if (in_class) {
      in_class = c != ']';
    } else if (c == '[') {
      in_class = true;
      if (i + 1 < source.size() && source[i + 1] == '^') ++i;
      if (i + 1 < source.size() && source[i + 1] == ']') ++i;  // a leading ']' is a member
    } else if (c == '(' && source.compare(i + 1, 1, "?") == 0) {
      const std::size_t at = i + 2;
      if (at >= source.size() || (source[at] != '<' && source[at] != '\'')) continue;
      const std::size_t end = source.find(source[at] == '<' ? '>' : '\'', at + 1);
      if (end == std::string::npos) continue;
      const std::string name = source.substr(at + 1, end - at - 1);
      if (regex_group_number(object, name) < 0) continue;
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  }
  return names;
}

match_list regex_search_all(const pattern_object& object, std::string_view text) {
  bool gave_up = false;
  return regex_search_all(object, text, gave_up);
}

int regex_group_number(const pattern_object& object, std::string_view name) {
  const pattern_object::impl* holder = object.get();
  if (holder == nullptr || holder->compiled.empty() || name.empty()) return -1;
  return holder->compiled.get_named_subs()->get_id(name.data(), name.data() + name.size());
}

bool regex_for_each_match(const pattern_object& object, std::string_view text,
                          const std::function<bool(const search_result& match)>& visit, search_budget* budget) {
  const pattern_object::impl* holder = object.get();
  if (holder == nullptr || holder->compiled.empty()) return true;
  const std::string_view buffer = searchable(text);
  if (buffer.empty()) return true;

  search_budget unlimited;
  search_budget& spent = budget != nullptr ? *budget : unlimited;
  const char* const start = buffer.data();
  const metered_iterator end(start + buffer.size(), &spent);
  const auto flags = boost::regex_constants::format_all;
  boost::match_results<metered_iterator> match;
  search_result result;
  metered_iterator from(start, &spent);
  try {
    // Each continuation uses its own start as the base, so "^", "\b" and
    // look-behind treat it as the start of the text.
    while (boost::regex_search(from, end, match, holder->compiled, flags, from)) {
      fill(result, match, start);
      if (!visit(result)) return true;
      // An empty match would be found again at the same place: the search ends
      // there, wherever it lies.
      if (match[0].first == match[0].second) break;
      from = match[0].second;
      // Between matches too: a pattern whose every match is short reads little
      // in each search.
      if (spent.exhausted()) return false;
    }
  } catch (...) {
    // Complexity or memory limit of the engine, or the budget exhausted: the
    // matches handed on so far stand.
    return false;
  }
  return true;
}

match_list regex_search_all(const pattern_object& object, std::string_view text, bool& gave_up, search_budget* budget) {
  match_list found;
  gave_up = !regex_for_each_match(
      object, text,
      [&](const search_result& match) {
        found.push_back(match);
        return true;
      },
      budget);
  return found;
}

match_at_outcome regex_match_at(const pattern_object& object, std::string_view text, std::size_t at,
                                search_result& result, search_budget* budget) {
  result.spans.clear();
  const pattern_object::impl* holder = object.get();
  if (holder == nullptr || holder->compiled.empty()) return match_at_outcome::gave_up;
  const std::string_view buffer = searchable(text);
  if (at >= buffer.size()) return match_at_outcome::no_match;

  search_budget unlimited;
  search_budget& spent = budget != nullptr ? *budget : unlimited;
  const char* const start = buffer.data();
  const metered_iterator from(start + at, &spent);
  boost::match_results<metered_iterator> match;
  try {
    const auto flags = boost::regex_constants::format_all | boost::regex_constants::match_continuous;
    if (!boost::regex_search(from, metered_iterator(start + buffer.size(), &spent), match, holder->compiled, flags,
                             from)) {
      return match_at_outcome::no_match;
    }
  } catch (...) {
    return match_at_outcome::gave_up;
  }
  fill(result, match, start);
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
