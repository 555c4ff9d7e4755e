#include "reading/last_match.h"

#include <algorithm>
#include <optional>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "codec/hex_escape.h"

namespace sharelink {
namespace {

/// The last place of `byte` in the `n` bytes from `begin`, or nullptr. Reads
/// eight bytes at a time: a word holds the byte when word ^ (byte x 8) has a
/// zero byte, which (v - 0x01..01) & ~v & 0x80..80 tells without false alarms.
const char* last_place_of(const char* begin, std::size_t n, char byte) {
  constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
  const std::uint64_t spread = ones * static_cast<unsigned char>(byte);
  while (n > 0) {
    if (n >= 8) {
      std::uint64_t word;
      std::memcpy(&word, begin + n - 8, 8);
      const std::uint64_t v = word ^ spread;
      if (((v - ones) & ~v & highs) == 0) {
        n -= 8;
        continue;
      }
    }
    const std::size_t stop = n >= 8 ? n - 8 : 0;
    for (std::size_t i = n; i > stop; --i) {
      if (begin[i - 1] == byte) return begin + i - 1;
    }
    n = stop;
  }
  return nullptr;
}

/// How often `byte` stands in ordinary markup, roughly: quotes, brackets, blanks and
/// '=' are everywhere, '_' and uncommon letters are rare.
int markup_frequency(char byte) {
  switch (byte) {
    case '_': return 0;
    case 'q': case 'j': case 'z': case 'x': case 'k': case 'y': case 'v': case 'w': return 1;
    case '"': case '\'': case '=': case '<': case '>': case ' ': case '/': case '\n': return 9;
    default: return 5;
  }
}

/// Index in `needle` of the byte the backward walk looks for: the rarest one, so
/// that few places need a full comparison.
std::size_t rarest_byte(std::string_view needle) {
  std::size_t chosen = needle.size() - 1;
  for (std::size_t i = needle.size(); i-- > 0;)
    if (markup_frequency(needle[i]) < markup_frequency(needle[chosen])) chosen = i;
  return chosen;
}

/// Start of the last occurrence of `needle` that lies wholly in the first `end`
/// bytes of `text`, or npos. As std::string_view::rfind, but it hops backwards
/// from one place of the needle's rarest byte (rarest_byte) to the next, so that
/// a search that finds nothing reads a page at about the speed of memmem.
std::size_t last_occurrence(std::string_view text, std::string_view needle, std::size_t end) {
  end = std::min(end, text.size());
  if (needle.empty()) return end;
  if (needle.size() > end) return std::string_view::npos;
  // Every place where the key byte stands, from the last one that leaves room for
  // the rest of the needle before `end`, back to the first that leaves room before
  // it, is compared whole: the first equal place is the last occurrence.
  const std::size_t key = rarest_byte(needle);
  const char* const begin = text.data();
  std::size_t limit = end - needle.size() + key + 1;  // the key byte lies before this
  while (limit > key) {
    const char* hit = last_place_of(begin + key, limit - key, needle[key]);
    if (hit == nullptr) break;
    const auto start = static_cast<std::size_t>(hit - begin) - key;
    if (std::memcmp(begin + start, needle.data(), needle.size()) == 0) return start;
    limit = start + key;
  }
  return std::string_view::npos;
}

// A text with each run of backslashes shortened to one, and the way back to the
// positions of the original.
class collapsed_runs {
 public:
  explicit collapsed_runs(std::string_view original) {
    text_.reserve(original.size());
    std::size_t removed = 0;
    for (std::size_t i = 0; i < original.size();) {
      text_.push_back(original[i]);
      if (original[i] != '\\') {
        ++i;
        continue;
      }
      std::size_t run_end = i + 1;
      while (run_end < original.size() && original[run_end] == '\\') ++run_end;
      if (run_end - i > 1) {
        removed += run_end - i - 1;
        // From here on, positions of the copy lie `removed` bytes further on in
        // the original. The end of a run maps to the end of the original run.
        shifts_.push_back({text_.size(), removed});
      }
      i = run_end;
    }
  }

  std::string_view text() const { return text_; }

  /// The part of `original` that `span`, lying in the copy `shift` bytes after the
  /// copy's start, stands for; empty when the span is empty or did not match.
  local_text original_text(std::string_view original, const match_span& span, std::size_t shift) const {
    if (!span.matched || span.length <= 0) return {};
    const std::size_t first = shift + static_cast<std::size_t>(span.offset);
    const std::size_t begin = original_position(first);
    const std::size_t end = original_position(first + static_cast<std::size_t>(span.length));
    return local_text(original.substr(begin, end - begin));
  }

  /// The original position of `position` in the copy. Positions inside a run are
  /// never asked for: matches of such patterns start and end outside runs or at
  /// their ends.
  std::size_t original_position(std::size_t position) const {
    auto after = std::upper_bound(shifts_.begin(), shifts_.end(), position,
                                  [](std::size_t p, const shift& s) { return p < s.from; });
    return after == shifts_.begin() ? position : position + std::prev(after)->removed;
  }

 private:
  struct shift {
    std::size_t from;     // first position of the copy this applies to
    std::size_t removed;  // bytes removed before it
  };
  std::string text_;
  std::vector<shift> shifts_;
};

// The last match without the whole search.
//
// The plain search walks every match from the start of the page: each search
// begins where the previous match ended, and the last match found gives the
// field. On a page listing thousands of files that is thousands of matches, when
// only the last one counts. For patterns of one shape the walk can start near
// the end of the page instead, with the same last match.
//
// The shape: OPENING (.*?) (CLOSING), where OPENING and CLOSING are "rigid":
// sequences of single bytes, each taken once or, with "+", as one or more, where
// a byte taken as one or more is never followed by the same byte, and OPENING
// begins and ends with a byte taken once. In such a pattern nothing is ever
// chosen: a run taken as one or more is taken whole (a shorter run would leave a
// byte of the run where a different byte must follow), so the match starting at
// p, when there is one, is: OPENING's bytes from p up to o(p); then the first
// place q >= o(p) where CLOSING matches; then CLOSING's bytes up to e(p). There
// are no assertions, so where a search starts does not change a match.
//
// Lemma 1 (ends keep their order): if p < p' both start matches, e(p) <= e(p').
// Each step of a rigid sequence maps the position before it to the one after it
// by t -> t + 1 (a byte once) or t -> the first position >= t not holding the
// byte (a run). Both maps never decrease, so neither does o(p), nor the first
// place q >= o(p) where CLOSING matches, nor CLOSING's end from that q.
//
// Lemma 2 (a resynchronising point): let x be a position such that every match
// start before x has its end at or before x. Then the matches the plain search
// finds from x on are those a search started at x finds. The last match the
// plain search finds before x ends at some f <= x (or f is the start of the
// text) and no match starts in [f, x), since it would have been found; so the
// search that continues from f finds the first match start at or after x, which
// is also what a search from x finds first, and from there both go alike.
//
// By lemma 1 it is enough that the last match start c before x ends at or before
// x. So the walk goes back from the end over the places where OPENING's literal
// beginning occurs (every match starts at one): it finds the last match start
// P, then goes back over earlier starts c while e(c) > x, moving x to c, until
// e(c) <= x or no start is left before x. Then the plain search from x gives the
// last match. On an ordinary page that is one or two matches at the end.
//
// The walk stays within the last few places of the literal and within a budget
// of engine work; past either it gives up and the plain search runs, so a page
// made to defeat it costs about what it cost before.

/// One step of a rigid sequence: a byte, once or as a run of one or more.
struct rigid_step {
  unsigned char byte;
  bool run;
};

/// Reads `piece` (Perl syntax) as a rigid sequence; false when it is anything else.
/// Understood: ordinary bytes, "\xHH", a backslash before a special byte, and "+".
bool read_rigid(std::string_view piece, std::vector<rigid_step>& steps) {
  constexpr std::string_view special = ".[](){}*+?|^$#";
  std::size_t i = 0;
  while (i < piece.size()) {
    unsigned char byte;
    const char c = piece[i];
    if (c == '\\') {
      if (i + 1 >= piece.size()) return false;
      const char escaped = piece[i + 1];
      if (escaped == 'x') {
        if (i + 3 >= piece.size() || !is_hex_digit(piece[i + 2]) || !is_hex_digit(piece[i + 3])) return false;
        // Two digits exactly, as the engine reads \xHH: "\x22d" is a quote and a d.
        byte = static_cast<unsigned char>(hex_value(piece[i + 2]) << 4 | hex_value(piece[i + 3]));
        i += 4;
      } else if (std::string_view(R"(\"{}()[].*+?|^$/)").find(escaped) != std::string_view::npos) {
        // Escaped punctuation that stands for itself; "\<", "\'" and the like are
        // assertions and do not.
        byte = static_cast<unsigned char>(escaped);
        i += 2;
      } else {
        return false;  // classes, assertions, back-references, control escapes
      }
    } else if (special.find(c) != std::string_view::npos) {
      return false;
    } else {
      byte = static_cast<unsigned char>(c);
      i += 1;
    }
    bool run = false;
    if (i < piece.size() && piece[i] == '+') {
      run = true;
      ++i;
    }
    // Other quantifiers, lazy or possessive runs.
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '?' || piece[i] == '*' || piece[i] == '{')) return false;
    // A run followed by its own byte could give some of it back.
    if (!steps.empty() && steps.back().run && steps.back().byte == byte) return false;
    steps.push_back({byte, run});
  }
  return !steps.empty();
}

/// The last of the successive matches in `text` (regex_for_each_match), kept
/// alone; false when the engine gave up.
bool last_match(const pattern_object& object, std::string_view text, std::optional<search_result>& last,
                search_budget* budget) {
  return regex_for_each_match(
      object, text,
      [&](const search_result& match) {
        last = match;
        return true;
      },
      budget);
}

/// Where the walk's window starts in `searched`: at the places-th last occurrence
/// of `opening`, or at its `first` when there are fewer.
std::size_t window_start_in(std::string_view searched, std::string_view opening, std::size_t first) {
  constexpr std::size_t places = 16;  // of the opening literal, at most, in the window
  std::size_t start = searched.size();
  for (std::size_t found = 0; found < places && start > first; ++found)
    start = last_occurrence(searched, opening, start - 1 + opening.size());
  return start;
}

/// Group 1 of `last`, a match in `text` (the window, or its copy with backslash runs
/// shortened) whose offsets count from `x`, cut from `window`.
local_text group_text(const search_result& last, const std::optional<collapsed_runs>& copy, std::string_view window,
                      std::size_t x) {
  if (last.spans.size() < 2) return local_text();
  const match_span& group = last.spans[1];
  if (copy) return copy->original_text(window, group, x);
  if (!group.matched || group.length <= 0) return local_text();
  return local_text(window.substr(x + static_cast<std::size_t>(group.offset), static_cast<std::size_t>(group.length)));
}

/// Group 1 of the plain search's last match in `searched`, found by the walk
/// described above; nothing when the walk cannot vouch for its answer.
std::optional<local_text> last_group_near_end(pattern_object& object, const field_pattern& field,
                                              std::string_view searched, std::string_view opening,
                                              search_budget* budget) {
  // The first occurrence, found forwards (memchr speed), bounds the walk back.
  const std::size_t first = searched.find(opening);
  if (first == std::string_view::npos) return local_text();  // every match starts with the opening

  // The window: from the last few occurrences of the opening to the end.
  const std::size_t window_start = window_start_in(searched, opening, first);
  const bool openings_before = window_start > first;

  // The window starts at the opening's first byte, never a backslash, so its
  // shortened copy is the end of the shortened page.
  const std::string_view window = searched.substr(window_start);
  std::optional<collapsed_runs> copy;
  if (field.backslash_runs_alike && window.find("\\\\") != std::string_view::npos) {
    if (opening.find("\\\\") != std::string_view::npos) return std::nullopt;
    copy.emplace(window);
  }
  const std::string_view text = copy ? copy->text() : window;

  std::vector<std::size_t> starts;
  for (std::size_t at = text.find(opening); at != std::string_view::npos; at = text.find(opening, at + 1)) {
    starts.push_back(at);
  }

  // Engine work allowed for the walk, in bytes handed to it.
  const std::size_t walk_budget = 2 * text.size();
  std::size_t spent = 0;
  search_result match;
  auto match_at = [&](std::size_t start) {
    spent += text.size() - start;
    if (spent > walk_budget) return match_at_outcome::gave_up;
    return regex_match_at(object, text, start, match, budget);
  };
  auto end_of = [](const search_result& r) {
    return static_cast<std::size_t>(r.spans[0].offset) + static_cast<std::size_t>(r.spans[0].length);
  };

  // P: the last match start.
  std::size_t index = starts.size();
  match_at_outcome outcome = match_at_outcome::no_match;
  while (index > 0 && outcome == match_at_outcome::no_match) outcome = match_at(starts[--index]);
  if (outcome == match_at_outcome::gave_up) return std::nullopt;
  if (outcome == match_at_outcome::no_match) {
    if (openings_before) return std::nullopt;
    return local_text();
  }
  search_result last = match;
  std::size_t x = starts[index];

  bool vouched = false;
  while (index > 0 && !vouched) {
    outcome = match_at(starts[--index]);
    if (outcome == match_at_outcome::gave_up) return std::nullopt;
    if (outcome == match_at_outcome::no_match) continue;
    if (end_of(match) <= x) {
      vouched = true;
    } else {
      x = starts[index];
    }
  }
  if (!vouched && openings_before) return std::nullopt;

  // From x on, the plain search; when x is P itself its match is the last one.
  if (static_cast<std::size_t>(last.spans[0].offset) != x) {
    std::optional<search_result> found;
    if (!last_match(object, text.substr(x), found, budget) || !found) return std::nullopt;
    last = *std::move(found);
  } else {
    x = 0;  // `last` holds offsets into `text` already
  }
  return group_text(last, copy, window, x);
}

/// The two rigid halves of a pattern of the form OPENING(.*?)(CLOSING); false for
/// any other pattern.
bool read_shape(std::string_view pattern, std::vector<rigid_step>& opening_steps,
                std::vector<rigid_step>& closing_steps) {
  const std::string_view source = as_local(pattern);
  constexpr std::string_view lazy_group = "(.*?)";
  const std::size_t group = source.find(lazy_group);
  if (group == std::string_view::npos) return false;
  std::string_view closing = source.substr(group + lazy_group.size());
  if (closing.size() >= 2 && closing.front() == '(' && closing.back() == ')') {
    closing = closing.substr(1, closing.size() - 2);
  }
  if (!read_rigid(source.substr(0, group), opening_steps) || !read_rigid(closing, closing_steps)) return false;
  return !opening_steps.front().run && opening_steps.front().byte != '\\' && !opening_steps.back().run;
}

}  // namespace

pattern_hints hints_for(std::string_view pattern) {
  std::vector<rigid_step> opening_steps, closing_steps;
  if (!read_shape(pattern, opening_steps, closing_steps)) return {};
  pattern_hints hints;
  std::size_t from = 0;
  for (std::size_t i = 0; i < closing_steps.size(); ++i)
    if (closing_steps[i].run) from = i;
  for (std::size_t i = from; i < closing_steps.size(); ++i) hints.closing.push_back(static_cast<char>(closing_steps[i].byte));
  // A backslash taken once could stand inside a run; taken as a run, it takes the
  // whole run wherever it stands.
  bool runs = false, single = false;
  for (const auto* steps : {&opening_steps, &closing_steps})
    for (const rigid_step& step : *steps)
      if (step.byte == '\\') (step.run ? runs : single) = true;
  hints.backslash_runs_alike = runs && !single;
  return hints;
}

local_text opening_literal(std::string_view pattern) {
  std::vector<rigid_step> opening_steps, closing_steps;
  if (!read_shape(pattern, opening_steps, closing_steps)) return {};
  local_text literal;
  for (const rigid_step& step : opening_steps) {
    literal.push_back(static_cast<char>(step.byte));
    if (step.run) break;
  }
  return literal;
}

std::string_view searchable_part(std::string_view page, std::string_view closing) {
  if (closing.empty()) return page;
  const std::size_t last = last_occurrence(page, closing, page.size());
  if (last == std::string_view::npos) return {};
  return page.substr(0, last + closing.size());
}

std::size_t end_of_last_escaped_brace(std::string_view page) {
  constexpr std::string_view brace_text = "\"}";
  std::size_t brace = last_occurrence(page, brace_text, page.size());
  while (brace != std::string_view::npos) {
    std::size_t quotes = brace;
    while (quotes > 0 && page[quotes - 1] == '"') --quotes;
    if (quotes == 0) break;
    if (page[quotes - 1] == '\\') return brace + 2;
    // No "}" starts inside this run of quotes; look before it.
    brace = last_occurrence(page, brace_text, quotes - 1 + brace_text.size());
  }
  return std::string_view::npos;
}

local_text last_group_text(pattern_object& object, const field_pattern& field,
                           std::string_view page, bool* gave_up, search_budget* budget) {
  if (gave_up != nullptr) *gave_up = false;
  // A pattern that does not compile would leave the previous one in the object;
  // searching with that would fill the field from the wrong marker.
  if (!regex_compile(object, field.pattern)) return {};
  const std::string_view local = as_local(page);
  std::string_view searched;
  if (field.last_closing_end != nullptr) {
    const std::size_t end = field.last_closing_end(local);
    if (end != std::string_view::npos) searched = local.substr(0, end);
  } else {
    searched = searchable_part(local, field.closing);
  }
  if (searched.empty()) return {};

  const local_text opening = opening_literal(field.pattern);
  if (!opening.empty()) {
    if (std::optional<local_text> near_end = last_group_near_end(object, field, searched, opening, budget)) {
      return *std::move(near_end);
    }
  }

  // Only the last match is kept: a page of a million matches holds one.
  std::optional<search_result> last;
  if (!field.backslash_runs_alike || searched.find("\\\\") == std::string_view::npos) {
    const bool finished = last_match(object, searched, last, budget);
    if (gave_up != nullptr) *gave_up = !finished;
    if (!last) return {};
    return match_group_text(*last, searched, 1);
  }

  const collapsed_runs copy(searched);
  const bool finished = last_match(object, copy.text(), last, budget);
  if (gave_up != nullptr) *gave_up = !finished;
  if (!last || last->spans.size() < 2) return {};
  return copy.original_text(searched, last->spans[1], 0);
}

local_text last_group_text(pattern_object& object, std::string_view pattern,
                           std::string_view page, std::string_view closing) {
  return last_group_text(object, field_pattern{pattern, closing, nullptr, false}, page);
}

}  // namespace sharelink
