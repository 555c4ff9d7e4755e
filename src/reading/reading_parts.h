#pragma once
// Inside the reading of answers: what the reading of values (rule_reading.cpp)
// and of records (record_listing.cpp) share.
#include <atomic>
#include <chrono>
#include <optional>
#include <semaphore>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "reading/rule_reading.h"
#include "runtime/pattern.h"

namespace sharelink::reading_parts {

/// The value at `pointer` in `json` as text: a string as it is, a number as its
/// text, true and false as those words, an object or array as its JSON; nothing
/// when absent or null.
std::optional<local_text> json_value(const nlohmann::json& json, const std::string& pointer);

/// json_value with the pointer read already (the same pointer asked of many
/// elements); nothing for a pointer that is none.
std::optional<local_text> json_value(const nlohmann::json& json, const std::optional<nlohmann::json::json_pointer>& at);

/// `pointer` read as a JSON pointer, or nothing when it is none.
std::optional<nlohmann::json::json_pointer> json_pointer_of(const std::string& pointer);

/// The error of a JSON answer that could not be read (pruned_json's error).
failure json_problem(const rule_answer& answer, const std::string& error);

/// The error of a search that gave up: the pattern was too much work for the
/// page, or the reading was interrupted.
failure gave_up_on(std::string_view pattern, const search_budget& budget);

/// Group 1 of the pattern's last match in `text` (the whole match for a pattern
/// without groups); nothing when it does not match. `matches`, when given, counts
/// the matches. `error` as read_value's.
std::optional<local_text> last_match_value(const std::string& pattern, std::string_view text,
                                           std::optional<failure>& error, search_budget& budget,
                                           std::size_t* matches = nullptr);

/// Whether `condition` holds for `value`, the text its reading found (nothing when
/// it found none): equal to its `equals` filled from `values`, or there or not.
bool condition_meets(const condition_rule& condition, const std::optional<local_text>& value,
                     const template_values& values);

/// A place among the readings of large answers that run at once in the process.
/// Such a reading holds for a while a few times its answer's size (the JSON reader
/// keeps the text it has read since its last string or number, all of an answer
/// that is nothing but brackets), and its work is the processor's anyway: 64
/// pages of 8 MiB read at once would take gigabytes, and no less time.
class large_reading_place {
 public:
  /// Waits for a place when the answers are large; admitted() is false when
  /// `cancel` turned true first.
  large_reading_place(const rule_answers& answers, const std::atomic<bool>* cancel) {
    std::size_t size = 0;
    for (const rule_answer& answer : answers) size += answer.text.size();
    if (size < large_answers) return;
    while (!places().try_acquire_for(std::chrono::milliseconds(50))) {
      if (cancel != nullptr && cancel->load()) {
        admitted_ = false;
        return;
      }
    }
    held_ = true;
  }
  ~large_reading_place() {
    if (held_) places().release();
  }
  large_reading_place(const large_reading_place&) = delete;
  large_reading_place& operator=(const large_reading_place&) = delete;

  bool admitted() const { return admitted_; }

 private:
  static constexpr std::size_t large_answers = std::size_t{1} << 20;
  static constexpr std::ptrdiff_t at_once = 4;
  static std::counting_semaphore<at_once>& places() {
    static std::counting_semaphore<at_once> places(at_once);
    return places;
  }
  bool admitted_ = true;
  bool held_ = false;
};

}  // namespace sharelink::reading_parts
