#pragma once
// The last-match search every field pattern uses: one pattern searched over the
// page, group 1 of its last match kept, without walking every match.
#include <cstddef>
#include <string_view>

#include "runtime/pattern.h"
#include "runtime/text.h"

namespace sharelink {

/// The part of `page` that can hold a match ending in `closing`: the page up to the
/// end of the last occurrence of `closing`, or an empty view when it has none.
/// Offsets into the view are offsets into the page.
std::string_view searchable_part(std::string_view page, std::string_view closing);

/// For a pattern whose matches end in more than a fixed text: the end of the last
/// place in `page` where a match could end, or std::string_view::npos when none.
using closing_finder = std::size_t (*)(std::string_view page);

/// The end of the last "}" in `page` that one or more double quotes lead to from a
/// backslash (as in \"} or \""}), or npos when there is none.
std::size_t end_of_last_escaped_brace(std::string_view page);

/// For a pattern of the form OPENING(.*?)(CLOSING) whose two ends are made of
/// single bytes, each once or with "+" (a run never followed by its own byte,
/// OPENING beginning and ending with a byte taken once): the bytes every match
/// begins with, up to and including the first run. Empty for any other pattern.
local_text opening_literal(std::string_view pattern);

/// How one field is found in a page.
struct field_pattern {
  std::string_view pattern;  ///< Perl syntax, compiled case-sensitive
  /// Literal text that every match of `pattern` ends in.
  std::string_view closing;
  /// When set, a narrower test than `closing` for where matches can end.
  closing_finder last_closing_end = nullptr;
  /// True when the pattern cannot tell a run of backslashes from a single one: it
  /// names backslashes only as "\\+", and no match starts, ends or continues
  /// inside a run. The search may then see each run as one backslash.
  bool backslash_runs_alike = false;
};

/// Compiles the field's pattern into `object`, finds every successive match in
/// `page` and returns group 1 of the last one, cut from `page`; empty when nothing
/// matches or the pattern does not compile.
///
/// The result is what searching the whole page gives, but the search covers only
/// the page up to where the last match can end (searchable_part(page,
/// field.closing), or field.last_closing_end; no search at all when there is no
/// such place) and, for `backslash_runs_alike`, a copy with every backslash run
/// shortened to one, whose group offsets are mapped back onto `page`. Both keep a
/// page built to make the engine backtrack from holding a parse for long. For a
/// pattern with an opening_literal, the search starts near the end of the page,
/// at a place shown to lie on the plain search's way, so that the time taken does
/// not grow with the number of matches; wherever the engine does not give up, the
/// last match is the plain search's.
/// When `gave_up` is given it tells whether the engine gave up on the page
/// (complexity limit, or `budget` exhausted): the result is then what was found
/// before that point.
local_text last_group_text(pattern_object& object, const field_pattern& field,
                           std::string_view page, bool* gave_up = nullptr, search_budget* budget = nullptr);

/// What opening_literal's shape tells about any pattern of it: the literal every
/// match ends in (the closing's bytes from its last run on, a run giving one byte),
/// and whether backslashes stand only in runs ("\\+"), so that a run reads as one.
/// Empty and false for a pattern of another shape.
struct pattern_hints {
  local_text closing;
  bool backslash_runs_alike = false;
};
pattern_hints hints_for(std::string_view pattern);

/// last_group_text for a pattern without backslash runs.
local_text last_group_text(pattern_object& object, std::string_view pattern,
                           std::string_view page, std::string_view closing);

}  // namespace sharelink
