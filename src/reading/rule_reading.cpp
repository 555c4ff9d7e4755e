#include "reading/rule_reading.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <semaphore>

#include <nlohmann/json.hpp>

#include "codec/charset.h"
#include "codec/gb18030.h"
#include "codec/utf8.h"
#include "reading/decode_steps.h"
#include "reading/last_match.h"
#include "reading/pruned_json.h"
#include "reading/reading_parts.h"
#include "reading/size_format.h"
#include "runtime/pattern.h"

namespace sharelink {
namespace reading_parts {

std::optional<nlohmann::json::json_pointer> json_pointer_of(const std::string& pointer) {
  try {
    return nlohmann::json::json_pointer(pointer);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<local_text> json_value(const nlohmann::json& json, const std::optional<nlohmann::json::json_pointer>& at) {
  if (!at) return std::nullopt;
  try {
    if (!json.contains(*at)) return std::nullopt;
    const nlohmann::json& value = json.at(*at);
    if (value.is_null()) return std::nullopt;
    // Decoded as every value is (decode_value), which makes it UTF-8.
    if (value.is_string()) return value.get_ref<const std::string&>();
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<local_text> json_value(const nlohmann::json& json, const std::string& pointer) {
  return json_value(json, json_pointer_of(pointer));
}

failure json_problem(const rule_answer& answer, const std::string& error) {
  return {error_kind::page,
          (answer.step == "page" ? std::string("the page's JSON ") : "the JSON of step " + answer.step + " ") + error +
              "; not read"};
}

failure gave_up_on(std::string_view pattern, const search_budget& budget) {
  if (budget.cancelled()) return interrupted_reading();
  return {error_kind::page, "the pattern " + std::string(pattern) + " is too complex for this page (the engine gave up)"};
}

std::optional<local_text> last_match_value(const std::string& pattern, std::string_view text,
                                           std::optional<failure>& error, search_budget& budget,
                                           std::size_t* matches) {
  pattern_object object = regex_create();
  if (!regex_compile(object, pattern)) return std::nullopt;
  const int group = regex_group_count(object) > 0 ? 1 : 0;
  std::optional<local_text> last;
  std::size_t count = 0;
  const bool whole = regex_for_each_match(object, text, [&](const search_result& match) {
    ++count;
    last = match_group_text(match, text, group);
    return true;
  }, &budget);
  regex_release(object);
  if (!whole && !error) error = gave_up_on(pattern, budget);
  if (matches != nullptr) *matches = count;
  return last;
}

bool condition_meets(const condition_rule& condition, const std::optional<local_text>& value,
                     const template_values& values) {
  if (!condition.equals) return value.has_value() == condition.present;
  if (!value) return false;
  const filled_template wanted =
      fill_template(*condition.equals, template_place::plain,
                    values ? values : template_values([](std::string_view) { return std::nullopt; }));
  return !wanted.missing && wanted.text == *value;
}

}  // namespace reading_parts

namespace {

using namespace reading_parts;

/// The answers read as JSON, each once, keeping what the given pointers reach in it.
class json_answers {
 public:
  explicit json_answers(std::vector<std::string> pointers) : pointers_(std::move(pointers)) {}

  /// The answer as JSON, or null when it is none; `error` is set when it could not
  /// be read.
  const nlohmann::json* of(const rule_answer& answer, std::optional<failure>& error) {
    for (const auto& [from, read] : parsed_)
      if (from == &answer) return read.json ? &*read.json : nullptr;
    // JSON is UTF-8: an answer that is not is read as its values would be, and
    // mended where it is neither.
    const std::string_view text = answer.text;
    const local_text read_as_utf8 = is_utf8(text) ? local_text() : utf8_or_gb18030(text);
    parsed_.emplace_back(&answer, read_json_for(read_as_utf8.empty() ? text : std::string_view(read_as_utf8), pointers_));
    const pruned_json& read = parsed_.back().second;
    if (read.error && !error) error = json_problem(answer, *read.error);
    return read.json ? &*read.json : nullptr;
  }

 private:
  std::vector<std::string> pointers_;
  std::deque<std::pair<const rule_answer*, pruned_json>> parsed_;
};

/// Group 1 of the pattern's last match, found the fast way (last_group_text);
/// nothing when none, or when group 1 is empty.
std::optional<local_text> pattern_value(const std::string& pattern, std::string_view text,
                                        std::optional<failure>& error, search_budget& budget) {
  pattern_object object = regex_create();
  const pattern_hints hints = hints_for(pattern);
  const field_pattern field{pattern, hints.closing, nullptr, hints.backslash_runs_alike};
  bool gave_up = false;
  local_text value = last_group_text(object, field, text, &gave_up, &budget);
  regex_release(object);
  if (gave_up && !error) error = gave_up_on(pattern, budget);
  if (value.empty()) return std::nullopt;
  return value;
}

/// How `reading` reads, as --explain shows it.
std::string how_it_reads(const value_reading& reading) {
  if (reading.filled) return "template '" + *reading.filled + "'";
  if (reading.json) return "json " + *reading.json;
  return "pattern '" + reading.pattern + "'";
}

/// What `reading` finds, before its decode steps: nothing when it is missing.
std::optional<local_text> found_by(const value_reading& reading, const rule_answers& answers, json_answers& json,
                                   const reading_scope& scope, std::optional<failure>& error,
                                   search_budget& budget, traced_reading* trace) {
  if (reading.filled) {
    const filled_template filled = fill_template(
        *reading.filled, template_place::plain,
        scope.values ? scope.values : template_values([](std::string_view) { return std::nullopt; }));
    if (trace != nullptr) trace->matches = filled.missing ? 0 : 1;
    if (filled.missing || filled.text.empty()) return std::nullopt;
    return filled.text;
  }
  const rule_answer* answer = answer_for(answers, reading.step);
  if (answer == nullptr) return std::nullopt;
  if (trace != nullptr) trace->answer = answer->step;
  std::optional<local_text> raw;
  if (!reading.pattern.empty()) {
    raw = pattern_value(reading.pattern, answer->text, error, budget);
    if (trace != nullptr) {
      std::optional<failure> ignored;
      search_budget counting(reading_search_reads, scope.cancel);
      last_match_value(reading.pattern, answer->text, ignored, counting, &trace->matches);
    }
  } else if (const nlohmann::json* parsed = json.of(*answer, error)) {
    raw = json_value(*parsed, *reading.json);
    if (trace != nullptr) trace->matches = raw ? 1 : 0;
  }
  return raw;
}

std::optional<local_text> read_value_in(const value_reading& reading, const rule_answers& answers,
                                        json_answers& json, const reading_scope& scope,
                                        std::optional<failure>& error, std::optional<std::string>* problem,
                                        search_budget& budget) {
  if (!reading.given()) return std::nullopt;
  std::optional<traced_reading> trace;
  if (scope.trace != nullptr) trace.emplace(traced_reading{scope.what, how_it_reads(reading), {}, 0, {}, {}, {}});
  std::optional<local_text> raw = found_by(reading, answers, json, scope, error, budget, trace ? &*trace : nullptr);
  std::optional<local_text> value;
  // A default stands for a value that is missing or empty.
  if (raw && !(raw->empty() && reading.fallback)) {
    std::optional<std::string> decode_problem;
    value = decode_value(*raw, reading.decode, &decode_problem, trace ? &trace->decoded : nullptr, scope.broken);
    if (decode_problem) {
      value.reset();
      if (problem != nullptr) *problem = std::move(decode_problem);
    }
  } else if (reading.fallback) {
    value = *reading.fallback;
    if (trace) trace->how += ", its default";
  }
  if (trace) {
    trace->found = raw;
    trace->value = value;
    scope.trace->reading(*trace);
  }
  return value;
}

/// The vector of every JSON pointer a value reading of `answers` may ask for:
/// here, the one reading's.
std::vector<std::string> pointers_of(const value_reading& reading) {
  if (reading.json) return {*reading.json};
  return {};
}

}  // namespace

const rule_answer* answer_for(const rule_answers& answers, std::string_view step) {
  if (answers.empty()) return nullptr;
  if (step.empty()) return &answers.back();
  for (const rule_answer& answer : answers)
    if (answer.step == step) return &answer;
  return nullptr;
}

std::optional<local_text> read_value(const value_reading& reading, const rule_answers& answers,
                                     std::optional<failure>& error, const std::atomic<bool>* cancel) {
  reading_scope scope;
  scope.cancel = cancel;
  return read_value(reading, answers, scope, error);
}

std::optional<local_text> read_value(const value_reading& reading, const rule_answers& answers,
                                     const reading_scope& scope, std::optional<failure>& error,
                                     std::optional<std::string>* problem) {
  const large_reading_place place(answers, scope.cancel);
  if (!place.admitted()) {
    if (!error) error = interrupted_reading();
    return std::nullopt;
  }
  json_answers json(pointers_of(reading));
  search_budget budget(reading_search_reads, scope.cancel);
  return read_value_in(reading, answers, json, scope, error, problem, budget);
}

std::optional<local_text> element_value(const nlohmann::json& element, const std::string& pointer) {
  return json_value(element, pointer);
}

bool record_condition_holds(const condition_rule& condition, const nlohmann::json* element, std::string_view text,
                            const template_values& values, std::optional<failure>& error,
                            const std::atomic<bool>* cancel) {
  std::optional<local_text> value;
  if (condition.json) {
    if (element != nullptr) value = json_value(*element, *condition.json);
  } else {
    search_budget budget(reading_search_reads, cancel);
    value = last_match_value(condition.pattern, text, error, budget);
  }
  return condition_meets(condition, value, values);
}

bool condition_holds(const condition_rule& condition, const rule_answer& answer, const reading_scope& scope,
                     std::optional<failure>& error, const nlohmann::json* read) {
  search_budget budget(reading_search_reads, scope.cancel);
  std::optional<local_text> value;
  std::size_t matches = 0;
  if (!condition.pattern.empty()) {
    value = last_match_value(condition.pattern, answer.text, error, budget, &matches);
  } else if (read != nullptr) {
    value = json_value(*read, *condition.json);
    matches = value ? 1 : 0;
  } else {
    json_answers json({*condition.json});
    if (const nlohmann::json* parsed = json.of(answer, error)) value = json_value(*parsed, *condition.json);
    matches = value ? 1 : 0;
  }
  const bool holds = condition_meets(condition, value, scope.values);
  if (scope.trace != nullptr) {
    traced_reading trace;
    trace.what = scope.what;
    trace.how = condition.json ? "json " + *condition.json : "pattern '" + condition.pattern + "'";
    trace.how += condition.equals ? ", equals '" + *condition.equals + "'"
                                  : condition.present ? ", present" : ", not present";
    trace.answer = answer.step;
    trace.matches = matches;
    trace.found = value;
    trace.value = holds ? "holds" : "does not hold";
    scope.trace->reading(trace);
  }
  return holds;
}

local_text answer_text(const service_rule& rule, std::string_view bytes, std::string_view content_type) {
  if (rule.request.encoding == answer_encoding::utf8) return utf8_to_local(to_text(bytes));
  // Local text is UTF-8: a GBK answer is read as GB18030, which holds GBK.
  if (rule.request.encoding == answer_encoding::gbk) return gb18030_to_utf8_replacing(to_text(bytes));
  // auto: as the answer says it is written.
  const std::string charset = charset_name(declared_charset(content_type, bytes));
  if (charset == "gbk" || charset == "gb18030") return gb18030_to_utf8_replacing(to_text(bytes));
  if (!charset.empty() && charset != "utf-8")
    if (std::optional<std::string> text = system_charset_to_utf8(charset, bytes)) return utf8_to_local(*text);
  // UTF-8, nothing declared, or a character set this system cannot read: the bytes
  // stand as they came, and each value read from them is taken as UTF-8 when it is
  // that, else as GB18030 (see decode_value). A page that says UTF-8 and holds a GBK
  // name is no rarity.
  return to_text(bytes);
}

local_text take_answer_text(const service_rule& rule, byte_string&& bytes, std::string_view content_type) {
  if (rule.request.encoding == answer_encoding::automatic) {
    // Bytes that stand as they came are moved, not copied: an answer of 8 MiB is
    // held once.
    const std::string charset = charset_name(declared_charset(content_type, bytes));
    if (charset.empty() || charset == "utf-8") {
      bytes.resize(as_local(bytes).size());  // up to the first zero byte, as to_text reads it
      return std::move(bytes);
    }
  }
  return answer_text(rule, std::string_view(bytes), content_type);
}

}  // namespace sharelink
