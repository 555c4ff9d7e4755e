#include "reading/record_listing.h"

#include <algorithm>
#include <deque>
#include <span>

#include <boost/container/small_vector.hpp>
#include <nlohmann/json.hpp>

#include "codec/utf8.h"
#include "reading/data_objects.h"
#include "reading/decode_steps.h"
#include "reading/file_type.h"
#include "reading/pruned_json.h"
#include "reading/reading_parts.h"
#include "reading/size_format.h"
#include "reading/start_tags.h"

namespace sharelink {
namespace {

using namespace reading_parts;

constexpr std::size_t field_count = rule_field_names.size();
constexpr std::size_t size_index = static_cast<std::size_t>(rule_field::size);

/// How bytes a column's value holds that are neither UTF-8 nor GB18030 come out: the
/// download address keeps them escaped, so that a download asks for what the page wrote.
broken_bytes broken_bytes_of(std::size_t column) {
  return column == static_cast<std::size_t>(rule_field::download_url) ? broken_bytes::escaped : broken_bytes::replaced;
}

/// What a record is read for, by column: the four fields, the further values, then
/// a folder's path.
struct record_columns {
  std::vector<const record_field*> sources;  ///< null where the rule reads nothing
  std::size_t extra_from = field_count;
  std::optional<std::size_t> path;  ///< the column of a folder's path
  bool templates = false;           ///< some column is a template

  explicit record_columns(const record_rule& records) {
    for (const std::optional<record_field>& field : records.fields) sources.push_back(field ? &*field : nullptr);
    for (const auto& [name, field] : records.extra) sources.push_back(&field);
    if (records.folders) {
      path = sources.size();
      sources.push_back(&records.folders->path);
    }
    for (const record_field* field : sources) templates = templates || (field != nullptr && field->filled);
  }
  /// The column read from the record itself (not a template), or null.
  const record_field* read_at(std::size_t column) const {
    const record_field* field = sources[column];
    return field != nullptr && !field->filled ? field : nullptr;
  }
};

/// One value of a record as the answer writes it: a view into the answer (or into
/// a text of the reading's own), nothing where the record has none.
using raw_value = std::optional<std::string_view>;

/// One record as the answer writes it: a value per column. A listing holds
/// thousands, most of a few columns: those few live in the row itself.
struct raw_record {
  boost::container::small_vector<raw_value, 8> values;
  bool is_folder = false;
  explicit raw_record(std::size_t columns) : values(columns) {}
};

/// A record of raw_records, as it lies there.
struct raw_row {
  std::span<const raw_value> values;
  bool is_folder = false;

  /// The bytes of its texts as the answer writes them.
  std::size_t bytes() const {
    std::size_t total = 0;
    for (const raw_value& value : values) total += value ? value->size() : 0;
    return total;
  }
};

/// The records of an answer as read, before they become files: the first
/// most_files whose texts fit in most_record_text together, and the answer's last.
/// The kept records lie one after another in one list of values, `columns` each.
class raw_records {
 public:
  explicit raw_records(std::size_t columns) : columns_(columns), last_(columns) {}

  std::size_t count = 0;  ///< the records the answer holds, kept or not

  /// The records kept.
  std::size_t kept() const { return folders_.size(); }
  raw_row row(std::size_t i) const {
    return {std::span<const raw_value>(values_).subspan(i * columns_, columns_), folders_[i] != 0};
  }
  /// The answer's last record.
  raw_row last() const {
    return last_kept_ ? row(kept() - 1) : raw_row{std::span<const raw_value>(last_.values), last_.is_folder};
  }

  /// Room for `records` records, when the reader knows how many it has.
  void reserve(std::size_t records) {
    records = std::min(records, most_files);
    values_.reserve(records * columns_);
    folders_.reserve(records);
  }

  /// A record whose values are views into the answer.
  void add(const raw_record& record) {
    ++count;
    last_kept_ = keeps(record);
    if (last_kept_) {
      values_.insert(values_.end(), record.values.begin(), record.values.end());
      folders_.push_back(record.is_folder ? 1 : 0);
    } else {
      last_ = record;
    }
  }

  /// A record whose values are texts of its own (a JSON element's).
  void add(std::vector<std::optional<local_text>>&& values, bool is_folder) {
    raw_record record(values.size());
    record.is_folder = is_folder;
    for (std::size_t i = 0; i < values.size(); ++i)
      if (values[i]) record.values[i] = *values[i];
    const bool kept_here = keeps(record);
    // The views move with the texts into a deque, whose elements stay put.
    std::deque<local_text>& into = kept_here ? owned_ : last_owned_;
    if (!kept_here) into.clear();
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!values[i]) continue;
      into.push_back(std::move(*values[i]));
      record.values[i] = into.back();
    }
    ++count;
    last_kept_ = kept_here;
    if (kept_here) {
      values_.insert(values_.end(), record.values.begin(), record.values.end());
      folders_.push_back(is_folder ? 1 : 0);
    } else {
      last_ = std::move(record);
    }
  }

  /// Forgets every record: the list begins again.
  void clear() { *this = raw_records(columns_); }

  /// A record was left out because the texts would have grown past most_record_text.
  bool text_cut() const { return text_cut_; }

 private:
  bool keeps(const raw_record& record) {
    if (text_cut_ || kept() >= most_files) return false;
    const std::size_t bytes = raw_row{std::span<const raw_value>(record.values), false}.bytes();
    if (bytes > most_record_text - text_bytes_) {
      text_cut_ = true;
      return false;
    }
    text_bytes_ += bytes;
    return true;
  }

  std::size_t columns_;
  std::vector<raw_value> values_;  ///< the kept records' values, row after row
  std::vector<char> folders_;      ///< per kept record, whether it is a folder
  bool text_cut_ = false;
  std::size_t text_bytes_ = 0;
  raw_record last_;
  bool last_kept_ = false;
  std::deque<local_text> owned_, last_owned_;
};

// The elements of the markup; when there are none, those a script or comment of the
// page holds (a page that writes its list from a script), so that the fields never
// come from the markers alone, each from another element.
void read_start_tags(const record_rule& records, const record_columns& columns, std::string_view text,
                     raw_records& out) {
  const auto visit = [&](std::span<const tag_attribute> attributes) {
    auto find = [&](std::string_view name) -> const tag_attribute* {
      for (const tag_attribute& a : attributes)
        if (a.name == name) return &a;
      return nullptr;
    };
    if (find(records.marker) == nullptr) return;
    raw_record record(columns.sources.size());
    for (std::size_t i = 0; i < columns.sources.size(); ++i) {
      const record_field* field = columns.read_at(i);
      if (field == nullptr) continue;
      if (const tag_attribute* a = find(field->source)) record.values[i] = a->value;
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
    if (!records.fields[i] || records.fields[i]->filled) continue;
    if (!records.fields[i]->after.empty()) {
      keys.after = records.fields[i]->after;
      keys.after_field = i;
    } else {
      keys.keys[i] = records.fields[i]->source;
    }
  }
  const std::vector<data_object> objects = find_data_objects(text, keys);
  out.reserve(objects.size());
  raw_record record(field_count);
  for (const data_object& object : objects) {
    for (std::size_t i = 0; i < field_count; ++i) {
      if (object.has[i]) record.values[i] = object.values[i];
      else record.values[i].reset();
    }
    out.add(record);
  }
}

/// Whether a record is a folder: `when` read on its element (json) or its text
/// (pattern). {file.NAME} in its `equals` is the record's own value, decoded.
bool is_folder(const record_rule& records, const record_columns& columns, const nlohmann::json* element,
               std::string_view text, const std::vector<std::optional<local_text>>& values,
               const reading_scope& scope, std::optional<failure>& error, search_budget& budget) {
  if (!records.folders) return false;
  const condition_rule& when = records.folders->when;
  std::optional<local_text> value;
  if (when.json) {
    if (element != nullptr) value = json_value(*element, *when.json);
  } else {
    value = last_match_value(when.pattern, text, error, budget);
  }
  const template_values own = [&](std::string_view name) -> std::optional<std::string> {
    for (std::size_t i = 0; i < columns.sources.size(); ++i) {
      const std::string column = i < field_count ? std::string(rule_field_names[i])
                                 : columns.path && i == *columns.path ? std::string()
                                                                      : records.extra[i - field_count].first;
      if (!column.empty() && name == "file." + column)
        return values[i] ? std::optional<std::string>(decode_value(*values[i], {})) : std::nullopt;
    }
    return scope.values ? scope.values(name) : std::nullopt;
  };
  return condition_meets(when, value, own);
}

void read_pattern_records(const record_rule& records, const record_columns& columns, std::string_view text,
                          raw_records& out, const reading_scope& scope, std::optional<failure>& error,
                          search_budget& budget) {
  pattern_object object = regex_create();
  if (!regex_compile(object, records.pattern)) return;
  std::vector<int> groups;
  for (std::size_t i = 0; i < columns.sources.size(); ++i) {
    const record_field* field = columns.read_at(i);
    groups.push_back(field != nullptr ? regex_group_number(object, field->source) : -1);
  }
  const auto add = [&](const search_result& match) {
    raw_record record(columns.sources.size());
    for (std::size_t i = 0; i < groups.size(); ++i) {
      if (groups[i] < 0 || static_cast<std::size_t>(groups[i]) >= match.spans.size()) continue;
      const match_span& span = match.spans[static_cast<std::size_t>(groups[i])];
      if (!span.matched) continue;
      record.values[i] = text.substr(static_cast<std::size_t>(span.offset), static_cast<std::size_t>(span.length));
    }
    if (records.folders && !match.spans.empty()) {
      std::vector<std::optional<local_text>> values(groups.size());
      for (std::size_t i = 0; i < groups.size(); ++i)
        if (record.values[i]) values[i] = local_text(*record.values[i]);
      const match_span& whole = match.spans[0];
      const std::string_view own = text.substr(static_cast<std::size_t>(whole.offset),
                                               static_cast<std::size_t>(whole.length));
      record.is_folder = is_folder(records, columns, nullptr, own, values, scope, error, budget);
    }
    out.add(record);
    return true;
  };
  if (!regex_for_each_match(object, text, add, &budget) && !error) error = gave_up_on(records.pattern, budget);
}

/// Whether the value at `pointer` neither holds the array at `array` nor lies in it.
bool apart_from_array(const std::string& pointer, const std::string& array) {
  const auto within = [](const std::string& inner, const std::string& outer) {
    return inner.starts_with(outer) && (inner.size() == outer.size() || inner[outer.size()] == '/');
  };
  return !within(pointer, array) && !within(array, pointer);
}

void read_json_records(const record_rule& records, const record_columns& columns, const rule_answer& answer,
                       raw_records& out, const reading_scope& scope, std::optional<failure>& error,
                       search_budget& budget, const std::vector<std::string>& top_pointers,
                       std::optional<nlohmann::json>& top) {
  std::vector<std::string> pointers;
  for (std::size_t i = 0; i < columns.sources.size(); ++i)
    if (const record_field* field = columns.read_at(i)) pointers.push_back(field->source);
  if (records.folders) {
    // A condition that reads the element's text keeps all of it.
    pointers.push_back(records.folders->when.json.value_or(""));
  }
  // Each pointer read once, for every element.
  std::vector<std::optional<nlohmann::json::json_pointer>> at(columns.sources.size());
  for (std::size_t i = 0; i < columns.sources.size(); ++i)
    if (const record_field* field = columns.read_at(i)) at[i] = json_pointer_of(field->source);
  const auto add = [&](const nlohmann::json& element) {
    std::vector<std::optional<local_text>> values(columns.sources.size());
    for (std::size_t i = 0; i < columns.sources.size(); ++i)
      if (columns.read_at(i) != nullptr) values[i] = json_value(element, at[i]);
    bool folder = false;
    if (records.folders) {
      const std::string text =
          records.folders->when.json ? std::string() : element.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
      folder = is_folder(records, columns, &element, text, values, scope, error, budget);
    }
    out.add(std::move(values), folder);
  };
  // Other readings mend an answer that is not UTF-8 before they read it as JSON:
  // theirs is kept for them only where it is the same answer.
  const bool keep_top = !top_pointers.empty() && is_utf8(answer.text) &&
                        std::all_of(top_pointers.begin(), top_pointers.end(), [&](const std::string& pointer) {
                          return apart_from_array(pointer, records.json_array);
                        });
  pruned_json read = read_json_elements(answer.text, records.json_array, pointers, add, [&] { out.clear(); },
                                        keep_top ? top_pointers : std::vector<std::string>());
  // An answer that is not JSON, or not read whole, lists nothing.
  if (!read.json) out.clear();
  if (keep_top && !read.error) top = std::move(read.json);
  if (read.error && !error) error = json_problem(answer, *read.error);
}

/// The texts of a raw record decoded, its templates filled in, into `file` and `marks`
/// (new ones: the listing's own, where they stand).
void decode_record(const service_rule& rule, const record_columns& columns, const raw_row& raw,
                   const reading_scope& scope, file_record& file, record_marks& marks) {
  marks.is_folder = raw.is_folder;
  // A listing decodes thousands of records: their few values live here, not on the heap.
  boost::container::small_vector<std::optional<local_text>, 8> values(columns.sources.size());
  std::optional<std::string> problem;
  for (std::size_t i = 0; i < columns.sources.size(); ++i) {
    const record_field* field = columns.read_at(i);
    if (field == nullptr || !raw.values[i]) continue;
    static const std::vector<decode_step> no_steps;
    const std::vector<decode_step>* steps =
        field->decode ? &*field->decode : i < field_count ? &rule.fields[i].decode : &no_steps;
    std::optional<std::string> step_problem;
    values[i] = decode_value(*raw.values[i], *steps, &step_problem, nullptr, broken_bytes_of(i));
    if (step_problem && !problem) problem = (i == size_index ? "" : "a value of the file: ") + *step_problem;
  }
  const auto name_of = [&](std::size_t i) {
    return i < field_count ? std::string(rule_field_names[i]) : rule.records.extra[i - field_count].first;
  };
  // Templates, from the values read: {file.NAME} and the rule's values.
  if (columns.templates) {
    const template_values own = [&](std::string_view name) -> std::optional<std::string> {
      for (std::size_t i = 0; i < columns.sources.size(); ++i)
        if ((!columns.path || i != *columns.path) && name == "file." + name_of(i)) return values[i];
      return scope.values ? scope.values(name) : std::nullopt;
    };
    for (std::size_t i = 0; i < columns.sources.size(); ++i) {
      const record_field* field = columns.sources[i];
      if (field == nullptr || !field->filled) continue;
      const filled_template filled = fill_template(*field->filled, template_place::plain, own);
      if (!filled.missing && !filled.text.empty())
        values[i] = field->decode ? decode_value(filled.text, *field->decode, nullptr, nullptr, broken_bytes_of(i))
                                  : filled.text;
    }
  }
  const std::array<local_text*, field_count> fields = {&file.download_url, &file.file_name, &file.size, &file.md5};
  for (std::size_t i = 0; i < field_count; ++i) {
    marks.has[i] = values[i].has_value();
    if (values[i]) *fields[i] = std::move(*values[i]);
  }
  for (std::size_t i = field_count; i < columns.sources.size(); ++i) {
    if (columns.path && i == *columns.path) marks.dir = values[i].value_or(local_text());
    else if (values[i]) file.extra.emplace_back(name_of(i), std::move(*values[i]));
  }
  if (problem) file.error = {error_kind::page, std::move(*problem)};
}

listed_record decode_record(const service_rule& rule, const record_columns& columns, const raw_row& raw,
                            const reading_scope& scope) {
  listed_record out;
  decode_record(rule, columns, raw, scope, out.file, out.marks);
  return out;
}

local_text size_text(const service_rule& rule, std::string_view value) {
  return format_size(rule.single_precision_size ? static_cast<double>(to_single(value)) : to_number(value));
}

/// Makes a listed record's file whole: each field it does not give is taken from
/// `fields` (as finish_listing says when), the name's type and the size made.
void complete_file(const service_rule& rule, file_record& file, const std::array<bool, 4>& has,
                   const field_values& fields, bool lone) {
  std::array<local_text*, field_count> texts = {&file.download_url, &file.file_name, &file.size, &file.md5};
  std::array<bool, field_count> from_fields{};
  for (std::size_t i = 0; i < field_count; ++i) {
    from_fields[i] = !rule.records.fields[i] || (lone && !has[i]);
    if (from_fields[i]) *texts[i] = fields.text[i];
  }
  file.file_type = classify_file_type(file.file_name);
  file.extension = file_type_key(file.file_name);
  if (from_fields[size_index]) {
    file.size = fields.size;
    file.size_bytes = fields.size_bytes;
  } else {
    file.size_bytes = read_whole_bytes(file.size);
    file.size = size_text(rule, file.size);
  }
}

file_record make_file(const service_rule& rule, listed_record record, const field_values& fields, bool lone) {
  complete_file(rule, record.file, record.marks.has, fields, lone);
  return std::move(record.file);
}

}  // namespace

void set_file_field(const service_rule& rule, file_record& file, rule_field field, local_text value) {
  switch (field) {
    case rule_field::download_url: file.download_url = std::move(value); break;
    case rule_field::file_name:
      file.file_name = std::move(value);
      file.file_type = classify_file_type(file.file_name);
      file.extension = file_type_key(file.file_name);
      break;
    case rule_field::size:
      file.size_bytes = read_whole_bytes(value);
      file.size = size_text(rule, value);
      break;
    case rule_field::md5: file.md5 = std::move(value); break;
  }
}

bool listing_room::take(std::size_t bytes, bool folder) {
  std::lock_guard lock(mutex_);
  std::size_t& count = folder ? folders_ : files_;
  if (text_cut_ || count >= most_files) {
    files_left_out_ = files_left_out_ || count >= most_files;
    return false;
  }
  if (bytes > most_record_text - bytes_) {
    text_cut_ = true;
    return false;
  }
  bytes_ += bytes;
  ++count;
  return true;
}

void listing_room::left_out(bool for_text) {
  std::lock_guard lock(mutex_);
  (for_text ? text_cut_ : files_left_out_) = true;
}

bool listing_room::files_left_out() const {
  std::lock_guard lock(mutex_);
  return files_left_out_;
}

bool listing_room::text_cut() const {
  std::lock_guard lock(mutex_);
  return text_cut_;
}

answer_records read_answer_records(const service_rule& rule, const rule_answer& answer, listing_room& room,
                                   const reading_scope& scope, std::optional<failure>& error,
                                   const std::vector<std::string>& top_pointers) {
  const record_rule& records = rule.records;
  const record_columns columns(records);
  search_budget budget(reading_search_reads, scope.cancel);
  raw_records raw(columns.sources.size());
  std::optional<nlohmann::json> top;
  switch (records.reader) {
    case record_reader::none: break;
    case record_reader::start_tags: read_start_tags(records, columns, answer.text, raw); break;
    case record_reader::data_objects: read_data_objects(records, answer.text, raw); break;
    case record_reader::pattern: read_pattern_records(records, columns, answer.text, raw, scope, error, budget); break;
    case record_reader::json_array:
      read_json_records(records, columns, answer, raw, scope, error, budget, top_pointers, top);
      break;
  }
  answer_records out;
  out.top = std::move(top);
  out.count = raw.count;
  out.kept.reserve(raw.kept());
  bool last_kept = raw.kept() == raw.count;
  for (std::size_t i = 0; i < raw.kept(); ++i) {
    const raw_row record = raw.row(i);
    if (!room.take(record.bytes(), record.is_folder)) {
      last_kept = false;
      break;
    }
    decode_record(rule, columns, record, scope, out.kept.files.emplace_back(), out.kept.marks.emplace_back());
  }
  // Records past the answer's own room are left out of the listing too.
  if (raw.kept() < raw.count) room.left_out(raw.text_cut());
  for (const record_marks& marks : out.kept.marks) out.files += marks.is_folder ? 0 : 1;
  out.files += raw.count - std::min(raw.count, out.kept.size());  // not told apart: counted as files
  if (raw.count > 0)
    out.last = last_kept ? out.kept.at(out.kept.size() - 1) : decode_record(rule, columns, raw.last(), scope);
  return out;
}

field_values read_field_values(const service_rule& rule, const rule_answers& answers, const reading_scope& scope,
                               std::optional<failure>& error) {
  field_values fields;
  reading_scope each = scope;
  for (std::size_t i = 0; i < field_count; ++i) {
    each.what = "field " + std::string(rule_field_names[i]);
    each.broken = broken_bytes_of(i);
    std::optional<std::string> problem;
    fields.text[i] = read_value(rule.fields[i], answers, each, error, &problem).value_or(local_text());
    if (problem && !error)
      error = {error_kind::page, (i == size_index ? "" : "[fields." + std::string(rule_field_names[i]) + "]: ") + *problem};
  }
  fields.size = size_text(rule, fields.text[size_index]);
  fields.size_bytes = read_whole_bytes(fields.text[size_index]);
  return fields;
}

rule_reading finish_listing(const service_rule& rule, const field_values& fields, listed_records files,
                            const std::optional<listed_record>& last, std::size_t files_read,
                            const listing_room& room) {
  rule_reading result;
  page_reading& reading = result.reading;
  reading.fields = make_file(rule, listed_record{}, fields, true);
  if (rule.records.reader == record_reader::none) {
    // A rule that reads no records describes a page of one file: the one its fields
    // give, when they give its address.
    if (!reading.fields.download_url.empty()) reading.files.push_back(reading.fields);
    return result;
  }
  if (room.text_cut())
    result.error = {error_kind::page, "the files of the page hold more than " + std::to_string(most_record_text) +
                                          " bytes of text; the rest are left out"};
  if (files_read == 0 || !last) return result;
  const bool lone = files_read == 1;
  reading.more_files = room.files_left_out();
  for (std::size_t i = 0; i < files.size(); ++i) complete_file(rule, files.files[i], files.marks[i].has, fields, lone);
  reading.files = std::move(files.files);
  reading.fields = make_file(rule, *last, fields, lone);
  return result;
}

rule_reading read_with_rule(const service_rule& rule, const rule_answers& answers, const std::atomic<bool>* cancel) {
  const large_reading_place place(answers, cancel);
  if (!place.admitted()) {
    rule_reading nothing = read_with_rule(rule, {});
    nothing.error = interrupted_reading();
    return nothing;
  }
  reading_scope scope;
  scope.cancel = cancel;
  std::optional<failure> error;
  const field_values fields = read_field_values(rule, answers, scope, error);
  listing_room room;
  answer_records records;
  if (const rule_answer* answer = answer_for(answers, rule.records.step);
      answer != nullptr && rule.records.reader != record_reader::none)
    records = read_answer_records(rule, *answer, room, scope, error);
  records.kept.drop_folders();
  if (records.last && records.last->marks.is_folder) records.last.reset();
  rule_reading result = finish_listing(rule, fields, std::move(records.kept), records.last, records.files, room);
  if (error) result.error = std::move(error);
  return result;
}

}  // namespace sharelink
