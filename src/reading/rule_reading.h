#pragma once
// Reading the answers of a service with its rule: the window's fields and every
// file the page lists.
#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "codec/gb18030.h"
#include "reading/decode_steps.h"
#include "reading/file_record.h"
#include "reading/rule_trace.h"
#include "rules/rule.h"
#include "rules/rule_template.h"
#include "runtime/error_kind.h"

namespace sharelink {

/// One answer a service gave: the share page ("page") or a step's, as local text.
struct rule_answer {
  std::string step;
  local_text text;
};

/// The answers in the order they were asked for, the share page first.
using rule_answers = std::vector<rule_answer>;

/// What a rule read, or why it could not read a page.
struct rule_reading {
  page_reading reading;
  /// Set when the page's reading is not to be trusted: a pattern made the engine
  /// give up (complexity limit, or the reading's work ran out), a JSON answer could
  /// not be read, or files were left out for their texts (most_record_text), all of
  /// kind page; or the reading was interrupted (kind interrupted).
  std::optional<failure> error;
};

/// The answer a field, value or record list reads: the one named `step`, or the
/// last one when `step` is empty. Null when there is none of that name.
const rule_answer* answer_for(const rule_answers& answers, std::string_view step);

/// The most bytes the files of one page may hold in their texts together, as the
/// answer writes them: what a page that is one file after another holds at most.
/// A page whose files would hold more lists those before that point (records
/// made to overlap can each hold most of the page).
inline constexpr std::size_t most_record_text = 8u * 1024u * 1024u;

/// The error of a reading that `cancel` stopped.
inline failure interrupted_reading() { return {error_kind::interrupted, "interrupted"}; }

/// The value `reading` gives in `answers`, decoded; nothing when it finds none.
/// `error` is set when the engine gave up, when the reading's work ran out
/// (reading_search_reads) or `cancel` turned true (then "interrupted"), or when a
/// JSON answer could not be read (pruned_json's error).
std::optional<local_text> read_value(const value_reading& reading, const rule_answers& answers,
                                     std::optional<failure>& error, const std::atomic<bool>* cancel = nullptr);

/// What a reading goes by besides the answers.
struct reading_scope {
  /// The values a template or an `equals` fills in, by name; unset: none has one.
  template_values values;
  /// Told each value read, when set; `what` names it there ("field size").
  rule_trace* trace = nullptr;
  std::string what;
  const std::atomic<bool>* cancel = nullptr;
  /// What becomes of bytes the value holds that are neither UTF-8 nor GB18030 (see
  /// decode_value): a download address keeps them escaped.
  broken_bytes broken = broken_bytes::replaced;
};

/// read_value with templates filled from `scope.values` and the reading's default
/// used for a value that is missing. `problem` is set when a decode step cannot
/// read the value ("the size 'about 3 MB' is not a size"); the value is then nothing.
std::optional<local_text> read_value(const value_reading& reading, const rule_answers& answers,
                                     const reading_scope& scope, std::optional<failure>& error,
                                     std::optional<std::string>* problem = nullptr);

/// The value at `pointer` in a JSON element, as a value reading finds it: a
/// number as its text, true and false as those words, null as missing.
std::optional<local_text> element_value(const nlohmann::json& element, const std::string& pointer);

/// Whether `condition` holds on a record: its `json` reading `element`, its
/// `pattern` the record's own `text`. `error` as read_value's.
bool record_condition_holds(const condition_rule& condition, const nlohmann::json* element, std::string_view text,
                            const template_values& values, std::optional<failure>& error,
                            const std::atomic<bool>* cancel = nullptr);

/// Whether `condition` holds on `answer` (its `json` or `pattern` reading the
/// answer). `error` as read_value's. `read`, when given, is the answer read as
/// JSON already, as far as the condition's pointer reaches.
bool condition_holds(const condition_rule& condition, const rule_answer& answer, const reading_scope& scope,
                     std::optional<failure>& error, const nlohmann::json* read = nullptr);

/// Reads the answers with the rule. The records ([records]) give the files, each
/// field a record does not read coming from [fields]; when the page lists a single
/// file, a field its record leaves out comes from [fields] too. The window's fields
/// are the last file's, or [fields]' when the page lists none. Every search of the
/// reading shares one budget of reading_search_reads, and gives up once `cancel`
/// turns true; either is the reading's error, as read_value's. Answers of 1 MiB
/// and more are read by a few readings at a time in the process, the others
/// waiting their turn (or for `cancel`). Otherwise pure.
rule_reading read_with_rule(const service_rule& rule, const rule_answers& answers,
                            const std::atomic<bool>* cancel = nullptr);

/// The answer's bytes as local text, as the rule's encoding says: up to the first
/// zero byte, from UTF-8 when the encoding is utf-8 and from GB18030 when it is
/// gbk (local text is UTF-8). When it is auto, in the character set the answer
/// declares (`content_type` is its Content-Type header, empty when it had none; then
/// a <meta> of the page's): utf-8, gbk, gb2312 or gb18030 (all read as GB18030), or
/// another the system can read. Without one the bytes stay as they came, and each
/// value read from them is UTF-8 when its bytes are that, else GB18030.
local_text answer_text(const service_rule& rule, std::string_view bytes, std::string_view content_type = {});

/// answer_text that takes the bytes over when they stand as they are (encoding
/// auto), instead of copying them.
local_text take_answer_text(const service_rule& rule, byte_string&& bytes, std::string_view content_type = {});

}  // namespace sharelink
