#include "resolve/rule_reading.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <semaphore>
#include <span>

#include <nlohmann/json.hpp>

#include "codec/char_refs.h"
#include "codec/charset.h"
#include "codec/codepage.h"
#include "codec/gb18030.h"
#include "codec/percent.h"
#include "codec/utf8.h"
#include "resolve/data_objects.h"
#include "resolve/file_type.h"
#include "resolve/last_match.h"
#include "resolve/pan.h"
#include "resolve/pruned_json.h"
#include "resolve/size_format.h"
#include "resolve/start_tags.h"
#include "runtime/pattern.h"

namespace sharelink {
namespace {

constexpr std::size_t field_count = rule_field_names.size();
constexpr std::size_t size_index = static_cast<std::size_t>(rule_field::size);

/// Four hexadecimal digits at `at`, or -1.
int hex4(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

/// The escapes of a JSON string undone; an escape that is not one stays as it stands.
local_text json_unescape(std::string_view text) {
  local_text out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char e = text[i + 1];
    const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
    if (const std::size_t k = simple.find(e); k != std::string_view::npos) {
      out.push_back(meaning[k]);
      ++i;
      continue;
    }
    int code = e == 'u' ? hex4(text, i + 2) : -1;
    if (code < 0) {
      out.push_back(text[i]);
      continue;
    }
    std::size_t used = 6;
    if (code >= 0xD800 && code < 0xDC00 && text.substr(i + 6, 2) == "\\u") {
      const int low = hex4(text, i + 8);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        used = 12;
      }
    }
    if (code == 0 || (code >= 0xD800 && code < 0xE000)) code = 0xFFFD;
    std::string utf8;
    append_utf8(utf8, static_cast<char32_t>(code));
    out += utf8_to_local(utf8);
    i += used - 1;
  }
  return out;
}

/// A value from an answer that declares UTF-8 or nothing: UTF-8 when its bytes are
/// that, else GB18030 (which holds GBK and GB2312), in which the pages of these
/// services were written, when they are that; else the bytes as they came (what
/// leaves the program is mended, see utf8_to_local).
local_text utf8_or_gb18030(std::string_view bytes) {
  const std::string_view text = as_local(bytes);
  if (is_utf8(text)) return local_text(text);
  if (std::optional<std::string> read = gb18030_to_utf8(text)) return std::move(*read);
  return local_text(text);
}

local_text trimmed(std::string_view text) {
  constexpr std::string_view blanks = " \t\r\n\f\v";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return local_text(text.substr(first, text.find_last_not_of(blanks) + 1 - first));
}

/// The error of a JSON answer that could not be read (pruned_json's error).
failure json_problem(const rule_answer& answer, const std::string& error) {
  return {error_kind::page,
          (answer.step == "page" ? std::string("the page's JSON ") : "the JSON of step " + answer.step + " ") + error +
              "; not read"};
}

/// The answers read as JSON, each once, keeping what the given readings' pointers
/// reach in it.
class json_answers {
 public:
  json_answers(const rule_answers& answers, std::vector<const value_reading*> readings)
      : answers_(answers), readings_(std::move(readings)) {}

  /// The answer as JSON, or null when it is none; `error` is set when it could not
  /// be read.
  const nlohmann::json* of(const rule_answer& answer, std::optional<failure>& error) {
    for (const auto& [from, read] : parsed_)
      if (from == &answer) return read.json ? &*read.json : nullptr;
    std::vector<std::string> pointers;
    for (const value_reading* reading : readings_)
      if (reading->json && answer_for(answers_, reading->step) == &answer) pointers.push_back(*reading->json);
    // JSON is UTF-8: an answer that is not is read as its values would be, and
    // mended where it is neither.
    const std::string_view text = answer.text;
    const local_text read_as_utf8 = is_utf8(text) ? local_text() : utf8_to_local(utf8_or_gb18030(text));
    parsed_.emplace_back(&answer, read_json_for(read_as_utf8.empty() ? text : std::string_view(read_as_utf8), pointers));
    const pruned_json& read = parsed_.back().second;
    if (read.error && !error) error = json_problem(answer, *read.error);
    return read.json ? &*read.json : nullptr;
  }

 private:
  const rule_answers& answers_;
  std::vector<const value_reading*> readings_;
  std::deque<std::pair<const rule_answer*, pruned_json>> parsed_;
};

/// The value at `pointer` in `json` as text; nothing when absent or null.
std::optional<local_text> json_value(const nlohmann::json& json, const std::string& pointer) {
  try {
    const nlohmann::json::json_pointer at(pointer);
    if (!json.contains(at)) return std::nullopt;
    const nlohmann::json& value = json.at(at);
    if (value.is_null()) return std::nullopt;
    if (value.is_string()) return utf8_to_local(value.get_ref<const std::string&>());
    return utf8_to_local(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

/// The error of a search that gave up: the pattern was too much work for the
/// page, or the reading was interrupted.
failure gave_up_on(std::string_view pattern, const search_budget& budget) {
  if (budget.cancelled()) return interrupted_reading();
  return {error_kind::page, "the pattern " + std::string(pattern) + " is too complex for this page (the engine gave up)"};
}

/// Group 1 of the pattern's last match; nothing when none.
std::optional<local_text> pattern_value(const std::string& pattern, std::string_view text,
                                        std::optional<failure>& error, search_budget& budget) {
  pattern_object object = regex_create();
  const pattern_hints hints = hints_for(pattern);
  const field_pattern field{pattern, hints.closing, nullptr, hints.backslash_runs_alike};
  bool gave_up = false;
  local_text value = last_group_text(object, field, text, &gave_up, &budget);
  regex_release(object);
  if (gave_up && !error) error = gave_up_on(pattern, budget);
  return value;
}

std::optional<local_text> read_value_in(const value_reading& reading, const rule_answers& answers,
                                        json_answers& json, std::optional<failure>& error,
                                        search_budget& budget) {
  const rule_answer* answer = answer_for(answers, reading.step);
  if (answer == nullptr || !reading.given()) return std::nullopt;
  std::optional<local_text> raw;
  if (!reading.pattern.empty()) {
    raw = pattern_value(reading.pattern, answer->text, error, budget);
  } else if (const nlohmann::json* parsed = json.of(*answer, error)) {
    raw = json_value(*parsed, *reading.json);
  }
  if (!raw) return std::nullopt;
  return decode_value(*raw, reading.decode);
}

/// The [fields] values: texts decoded, the size as the window shows it.
struct field_values {
  std::array<local_text, field_count> text;
  local_text size;
  std::optional<std::uint64_t> size_bytes;
};

local_text size_text(const service_rule& rule, std::string_view value) {
  return format_size(rule.single_precision_size ? static_cast<double>(to_single(value)) : to_number(value));
}

/// One file as its record writes it: a view into an answer (or into `owned`) per field.
struct raw_record {
  std::array<std::string_view, field_count> values;
  std::array<bool, field_count> has{};
};

/// The records of a page as read, before they become files: the first most_files
/// whose texts fit in most_record_text together, and the page's last.
class raw_records {
 public:
  std::vector<raw_record> kept;
  raw_record last;
  std::size_t count = 0;
  /// A record was left out because the texts would have grown past most_record_text.
  bool text_cut = false;

  /// A record whose values are views into an answer.
  void add(const raw_record& record) {
    last = record;
    ++count;
    if (keeps(record)) kept.push_back(record);
  }

  /// A record whose values are texts of its own (a JSON element's).
  void add(std::array<std::optional<local_text>, field_count>&& values) {
    raw_record record;
    for (std::size_t i = 0; i < field_count; ++i) {
      record.has[i] = values[i].has_value();
      if (values[i]) record.values[i] = *values[i];
    }
    ++count;
    if (keeps(record)) {
      // The views move with the texts into the deque, whose elements stay put.
      for (std::size_t i = 0; i < field_count; ++i) {
        if (!values[i]) continue;
        owned_.push_back(std::move(*values[i]));
        record.values[i] = owned_.back();
      }
      kept.push_back(record);
      last = record;
    } else {
      last_owned_ = std::move(values);
      for (std::size_t i = 0; i < field_count; ++i)
        if (last_owned_[i]) record.values[i] = *last_owned_[i];
      last = record;
    }
  }

  /// Forgets every record: the list begins again.
  void clear() { *this = raw_records(); }

 private:
  bool keeps(const raw_record& record) {
    if (text_cut || kept.size() >= most_files) return false;
    std::size_t bytes = 0;
    for (std::string_view value : record.values) bytes += value.size();
    if (bytes > most_record_text - text_bytes_) {
      text_cut = true;
      return false;
    }
    text_bytes_ += bytes;
    return true;
  }

  std::size_t text_bytes_ = 0;
  std::deque<local_text> owned_;
  std::array<std::optional<local_text>, field_count> last_owned_;
};

// The elements of the markup; when there are none, those a script or comment of the
// page holds (a page that writes its list from a script), so that the fields never
// come from the markers alone, each from another element.
void read_start_tags(const record_rule& records, std::string_view text, raw_records& out) {
  const auto visit = [&](std::span<const tag_attribute> attributes) {
    auto find = [&](std::string_view name) -> const tag_attribute* {
      for (const tag_attribute& a : attributes)
        if (a.name == name) return &a;
      return nullptr;
    };
    if (find(records.marker) == nullptr) return;
    raw_record record;
    for (std::size_t i = 0; i < field_count; ++i) {
      if (!records.fields[i]) continue;
      if (const tag_attribute* a = find(records.fields[i]->source)) {
        record.values[i] = a->value;
        record.has[i] = true;
      }
    }
    out.add(record);
  };
  for_each_start_tag(text, visit);
  if (out.count == 0) for_each_start_tag(text, visit, true);
}

void read_data_objects(const record_rule& records, std::string_view text, raw_records& out) {
  data_object_keys keys;
  keys.marker = records.marker;
  keys.keys = {};
  keys.after = {};
  for (std::size_t i = 0; i < field_count; ++i) {
    if (!records.fields[i]) continue;
    if (!records.fields[i]->after.empty()) {
      keys.after = records.fields[i]->after;
      keys.after_field = i;
    } else {
      keys.keys[i] = records.fields[i]->source;
    }
  }
  for (const data_object& object : find_data_objects(text, keys)) out.add({object.values, object.has});
}

void read_pattern_records(const record_rule& records, std::string_view text, raw_records& out,
                          std::optional<failure>& error, search_budget& budget) {
  pattern_object object = regex_create();
  if (!regex_compile(object, records.pattern)) return;
  std::array<int, field_count> groups{};
  for (std::size_t i = 0; i < field_count; ++i)
    groups[i] = records.fields[i] ? regex_group_number(object, records.fields[i]->source) : -1;
  const auto add = [&](const search_result& match) {
    raw_record record;
    for (std::size_t i = 0; i < field_count; ++i) {
      if (groups[i] < 0 || static_cast<std::size_t>(groups[i]) >= match.spans.size()) continue;
      const match_span& span = match.spans[static_cast<std::size_t>(groups[i])];
      if (!span.matched) continue;
      record.values[i] = text.substr(static_cast<std::size_t>(span.offset), static_cast<std::size_t>(span.length));
      record.has[i] = true;
    }
    out.add(record);
    return true;
  };
  if (!regex_for_each_match(object, text, add, &budget) && !error) error = gave_up_on(records.pattern, budget);
}

void read_json_records(const record_rule& records, const rule_answer& answer, raw_records& out,
                       std::optional<failure>& error) {
  std::vector<std::string> pointers;
  for (const std::optional<record_field>& field : records.fields)
    if (field) pointers.push_back(field->source);
  const auto add = [&](const nlohmann::json& element) {
    std::array<std::optional<local_text>, field_count> values;
    for (std::size_t i = 0; i < field_count; ++i)
      if (records.fields[i]) values[i] = json_value(element, records.fields[i]->source);
    out.add(std::move(values));
  };
  const pruned_json read = read_json_elements(answer.text, records.json_array, pointers, add, [&] { out.clear(); });
  // An answer that is not JSON, or not read whole, lists nothing.
  if (!read.json) out.clear();
  if (read.error && !error) error = json_problem(answer, *read.error);
}

file_record make_record(const service_rule& rule, const raw_record& raw, const field_values& fields, bool lone) {
  std::array<local_text, field_count> text;
  std::array<bool, field_count> from_fields{};
  for (std::size_t i = 0; i < field_count; ++i) {
    const std::optional<record_field>& how = rule.records.fields[i];
    from_fields[i] = !how || (lone && !raw.has[i]);
    if (from_fields[i]) {
      text[i] = fields.text[i];
    } else {
      text[i] = decode_value(raw.values[i], how->decode ? *how->decode : rule.fields[i].decode);
    }
  }
  file_record record;
  record.download_url = std::move(text[0]);
  record.file_name = std::move(text[1]);
  record.file_type = classify_file_type(record.file_name);
  record.extension = file_type_key(record.file_name);
  if (from_fields[size_index]) {
    record.size = fields.size;
    record.size_bytes = fields.size_bytes;
  } else {
    record.size = size_text(rule, text[size_index]);
    record.size_bytes = read_whole_bytes(text[size_index]);
  }
  record.md5 = std::move(text[3]);
  return record;
}

void read_raw_records(const service_rule& rule, const rule_answers& answers, raw_records& raw,
                      std::optional<failure>& error, search_budget& budget) {
  const rule_answer* answer = answer_for(answers, rule.records.step);
  if (answer == nullptr) return;
  const std::string_view text = answer->text;
  switch (rule.records.reader) {
    case record_reader::none: break;
    case record_reader::start_tags: read_start_tags(rule.records, text, raw); break;
    case record_reader::data_objects: read_data_objects(rule.records, text, raw); break;
    case record_reader::pattern: read_pattern_records(rule.records, text, raw, error, budget); break;
    case record_reader::json_array: read_json_records(rule.records, *answer, raw, error); break;
  }
}

}  // namespace

const rule_answer* answer_for(const rule_answers& answers, std::string_view step) {
  if (answers.empty()) return nullptr;
  if (step.empty()) return &answers.back();
  for (const rule_answer& answer : answers)
    if (answer.step == step) return &answer;
  return nullptr;
}

local_text decode_value(std::string_view value, const std::vector<decode_step>& steps) {
  local_text text = utf8_or_gb18030(value);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    switch (steps[i]) {
      case decode_step::char_refs: {
        // Before percent escapes, which are read as UTF-8, a referenced character
        // must be UTF-8 too.
        const bool before_percent = i + 1 < steps.size() && steps[i + 1] == decode_step::percent;
        text = decode_char_refs(text, before_percent ? char_ref_output::utf8 : char_ref_output::local);
        break;
      }
      case decode_step::percent: text = percent_decode(text); break;
      case decode_step::json_string: text = json_unescape(text); break;
      case decode_step::backslashes: text = unescape_pan_address(text); break;
      case decode_step::trim: text = trimmed(text); break;
    }
  }
  // A step that writes bytes may have made some that are not UTF-8.
  return utf8_or_gb18030(text);
}

/// A place among the readings of large answers that run at once in the process.
/// Such a reading holds for a while a few times its answer's size (the JSON reader
/// keeps the text it has read since its last string or number, all of an answer
/// that is nothing but brackets), and its work is the processor's anyway: 64
/// pages of 8 MiB read at once would take gigabytes, and no less time.
class large_reading {
 public:
  /// Waits for a place when the answers are large; admitted() is false when
  /// `cancel` turned true first.
  large_reading(const rule_answers& answers, const std::atomic<bool>* cancel) {
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
  ~large_reading() {
    if (held_) places().release();
  }
  large_reading(const large_reading&) = delete;
  large_reading& operator=(const large_reading&) = delete;

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

std::optional<local_text> read_value(const value_reading& reading, const rule_answers& answers,
                                     std::optional<failure>& error, const std::atomic<bool>* cancel) {
  const large_reading place(answers, cancel);
  if (!place.admitted()) {
    if (!error) error = interrupted_reading();
    return std::nullopt;
  }
  json_answers json(answers, {&reading});
  search_budget budget(reading_search_reads, cancel);
  return read_value_in(reading, answers, json, error, budget);
}

rule_reading read_with_rule(const service_rule& rule, const rule_answers& answers, const std::atomic<bool>* cancel) {
  const large_reading place(answers, cancel);
  if (!place.admitted()) {
    rule_reading nothing = read_with_rule(rule, {});
    nothing.error = interrupted_reading();
    return nothing;
  }
  rule_reading result;
  std::vector<const value_reading*> readings;
  for (const value_reading& field : rule.fields) readings.push_back(&field);
  json_answers json(answers, std::move(readings));
  search_budget budget(reading_search_reads, cancel);
  field_values fields;
  for (std::size_t i = 0; i < field_count; ++i)
    fields.text[i] = read_value_in(rule.fields[i], answers, json, result.error, budget).value_or(local_text());
  fields.size = size_text(rule, fields.text[size_index]);
  fields.size_bytes = read_whole_bytes(fields.text[size_index]);

  page_reading& reading = result.reading;
  reading.fields = {fields.text[0], fields.text[1], classify_file_type(fields.text[1]), fields.size, fields.text[3]};
  reading.extension = file_type_key(reading.fields.file_name);
  reading.size_bytes = fields.size_bytes;

  if (rule.records.reader == record_reader::none) {
    // A rule that reads no records describes a page of one file: the one its fields
    // give, when they give its address.
    if (!reading.fields.download_url.empty()) reading.files.push_back(make_record(rule, raw_record{}, fields, true));
    return result;
  }
  raw_records raw;
  read_raw_records(rule, answers, raw, result.error, budget);
  if (raw.text_cut && !result.error)
    result.error = {error_kind::page, "the files of the page hold more than " + std::to_string(most_record_text) +
                                          " bytes of text; the rest are left out"};
  if (raw.count == 0) return result;
  const bool lone = raw.count == 1;
  reading.more_files = raw.count > most_files;
  reading.files.reserve(raw.kept.size());
  for (const raw_record& record : raw.kept) reading.files.push_back(make_record(rule, record, fields, lone));
  const bool last_kept = raw.kept.size() == raw.count;
  const file_record last = last_kept ? reading.files.back() : make_record(rule, raw.last, fields, lone);
  reading.fields = {last.download_url, last.file_name, last.file_type, last.size, last.md5};
  reading.extension = last.extension;
  reading.size_bytes = last.size_bytes;
  return result;
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
