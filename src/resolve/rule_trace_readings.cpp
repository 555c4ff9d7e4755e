#include "resolve/rule_trace_readings.h"

#include "runtime/pattern.h"

namespace sharelink {
namespace {

std::string decode_step_name(decode_step step) {
  switch (step) {
    case decode_step::char_refs: return "char_refs";
    case decode_step::percent: return "percent";
    case decode_step::json_string: return "json_string";
    case decode_step::backslashes: return "backslashes";
    case decode_step::trim: return "trim";
  }
  return "decode";
}

std::size_t match_count(const std::string& pattern, std::string_view text) {
  pattern_object object = regex_create();
  if (!regex_compile(object, pattern)) return 0;
  std::size_t count = 0;
  search_budget budget(reading_search_reads);
  regex_for_each_match(object, text, [&](const search_result&) { return ++count, true; }, &budget);
  regex_release(object);
  return count;
}

}  // namespace

void trace_value(rule_trace& trace, const std::string& what, const value_reading& reading,
                 const rule_answers& answers) {
  traced_reading told;
  told.what = what;
  told.how = reading.json ? "json " + *reading.json : "pattern '" + reading.pattern + "'";
  const rule_answer* answer = answer_for(answers, reading.step);
  told.answer = answer != nullptr ? answer->step : reading.step;
  value_reading undecoded = reading;
  undecoded.decode.clear();
  std::optional<failure> error;
  const std::optional<local_text> found = answer != nullptr ? read_value(undecoded, answers, error) : std::nullopt;
  if (answer != nullptr) told.matches = reading.json ? (found ? 1 : 0) : match_count(reading.pattern, answer->text);
  if (found) {
    told.found = *found;
    // The text after each step is what the steps up to it make of the text found.
    std::vector<decode_step> done;
    local_text before = *found;
    for (decode_step step : reading.decode) {
      done.push_back(step);
      local_text after = decode_value(*found, done);
      told.decoded.push_back({decode_step_name(step), before, after});
      before = std::move(after);
    }
    told.value = decode_value(*found, reading.decode);
  }
  trace.reading(told);
}

void trace_fields(rule_trace& trace, const service_rule& rule, const rule_answers& answers) {
  for (std::size_t i = 0; i < rule_field_names.size(); ++i)
    if (rule.fields[i].given()) trace_value(trace, "field " + std::string(rule_field_names[i]), rule.fields[i], answers);
  const record_rule& records = rule.records;
  if (records.reader == record_reader::none) return;
  traced_reading told;
  told.what = "records";
  switch (records.reader) {
    case record_reader::pattern: told.how = "pattern '" + records.pattern + "'"; break;
    case record_reader::json_array: told.how = "json_array " + records.json_array; break;
    case record_reader::start_tags: told.how = "start_tags " + records.marker; break;
    case record_reader::data_objects: told.how = "data_objects " + records.marker; break;
    case record_reader::none: break;
  }
  const rule_answer* answer = answer_for(answers, records.step);
  told.answer = answer != nullptr ? answer->step : records.step;
  told.matches = read_with_rule(rule, answers).reading.files.size();
  trace.reading(told);
}

}  // namespace sharelink
