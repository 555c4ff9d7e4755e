#pragma once
// An answer in JSON read for a few pointers only: what they reach is kept, the
// rest of the answer is passed over as it is read, so that an answer of 8 MiB
// costs a reading about what its few values cost, not a tree of every value.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace sharelink {

/// The deepest nesting of arrays and objects read; an answer nested deeper is
/// refused (a tree that deep would take the stack to write out).
inline constexpr std::size_t most_json_depth = 512;

/// The most values one reading keeps of a JSON answer at once: those the
/// pointers reach whole, and the way to them.
inline constexpr std::size_t most_json_values = std::size_t{1} << 17;

/// What reading a JSON answer gave.
struct pruned_json {
  /// The answer with only what the pointers reach: every pointer gives in it
  /// what it gives in the whole answer. Null when the text is not JSON, or when
  /// `error` is set.
  std::optional<nlohmann::json> json;
  /// Why a text that may well be JSON was not read, to follow the answer's name:
  /// "is nested deeper than 512 levels", or "has more than 131072 values where
  /// the rule reads" (most_json_depth, most_json_values).
  std::optional<std::string> error;
};

/// Reads `text` as JSON (strict, as nlohmann::json::parse reads it), keeping the
/// values at `pointers` whole and the objects and arrays that lead to them. A
/// pointer that is not one (no leading "/") keeps nothing.
pruned_json read_json_for(std::string_view text, const std::vector<std::string>& pointers);

/// Reads `text` as JSON, handing each element of the array at `array` to
/// `element` as it is read, kept only where `element_pointers` reach; nothing is
/// kept of the rest. `restart` is called when the array's place is met again (a
/// repeated key: the last one counts, as in the whole answer), so that the
/// elements handed on before do not count. Returns what read_json_for returns for
/// `top_pointers` (none of which may hold the array or lead into it), its `json`
/// an empty object when the text is JSON and there are none.
pruned_json read_json_elements(std::string_view text, const std::string& array,
                               const std::vector<std::string>& element_pointers,
                               const std::function<void(const nlohmann::json& element)>& element,
                               const std::function<void()>& restart,
                               const std::vector<std::string>& top_pointers = {});

}  // namespace sharelink
