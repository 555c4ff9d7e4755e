#pragma once
// A share service described as data: what a rule file says, read and checked.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "runtime/error_kind.h"

namespace sharelink {

/// The four fields a rule reads; the file type follows from the name.
enum class rule_field { download_url, file_name, size, md5 };
inline constexpr std::array<std::string_view, 4> rule_field_names = {"download_url", "file_name", "size", "md5"};

/// One way of turning a value as the answer writes it into text.
enum class decode_step {
  char_refs,    ///< HTML character references; before `percent`, as UTF-8 bytes
  percent,      ///< percent escapes, the bytes read as UTF-8 (GB18030 when they are not)
  json_string,  ///< the escapes of a JSON string (\" \\ \/ \n \uXXXX ...)
  backslashes,  ///< escaped slashes: "\\/\\/" once to "//", then every "\\/" to "/"
  trim,         ///< blanks and line breaks at both ends
  size_units,   ///< a size in words ("1.5 MB", "2G", "1,234 KB") to a number of bytes
};

/// The names of the decode steps, as a rule writes them, by decode_step.
inline constexpr std::array<std::string_view, 6> decode_step_names = {"char_refs", "percent",     "json_string",
                                                                      "backslashes", "trim", "size_units"};

/// Where a value is read in an answer: group 1 of the last match of `pattern`, the
/// value at the JSON pointer `json` of an answer that is JSON, or a template filled
/// in from other values.
struct value_reading {
  std::string pattern;
  std::optional<std::string> json;
  std::optional<std::string> filled;  ///< `template`: a text with {NAME} placeholders
  std::vector<decode_step> decode;
  std::string step;  ///< the answer read: a step's name, "page", or empty for the last
  std::optional<std::string> fallback;  ///< `default`: the text used when the value is missing
  bool given() const { return !pattern.empty() || json.has_value() || filled.has_value(); }
};

/// A test on an answer or a record: the value `json` or `pattern` reads (group 1 of
/// the last match, or the whole match for a pattern without groups) equals the
/// template `equals`, or is there (`present`) or not.
struct condition_rule {
  std::string pattern;
  std::optional<std::string> json;
  std::optional<std::string> equals;
  bool present = true;  ///< without `equals`: whether the value must be there
};


/// A failure the service reports in its answer: when `condition` holds, the
/// reading ends with `kind` and `message`.
struct fail_rule {
  condition_rule condition;
  error_kind kind = error_kind::page;  ///< page, password, gone or login
  std::string message;
};

/// How one field of a record is read from that record.
struct record_field {
  /// A named group (pattern records), a JSON pointer into the element (json_array),
  /// an attribute (start_tags) or a key (data_objects).
  std::string source;
  /// data_objects: the text after this marker in the last string of the object
  /// that holds it, instead of a key's value.
  std::string after;
  std::optional<std::vector<decode_step>> decode;  ///< when not given: the field's [fields] decode
  /// A template filled in from the record's other values ({file.NAME}) and the
  /// rule's values, instead of reading the record.
  std::optional<std::string> filled;
};

enum class record_reader { none, pattern, json_array, start_tags, data_objects };

/// Which records are folders, and how a folder is listed.
struct folders_rule {
  condition_rule when;  ///< on a record: it is a folder
  record_field path;    ///< the record's value given as {dir} when the folder is listed
  std::string step;     ///< the listing step run for a folder; empty: the records' step
  int max_depth = 8;    ///< folders within folders, the top's being depth 1
};

/// The most folders within folders a rule may ask for.
inline constexpr int most_folder_depth = 32;

/// How every file of a page is found.
struct record_rule {
  record_reader reader = record_reader::none;
  std::string pattern;     ///< pattern: one file per match, named groups
  std::string json_array;  ///< json_array: a JSON pointer to the array of files
  std::string marker;      ///< start_tags: the attribute, data_objects: the key marking a file
  std::array<std::optional<record_field>, 4> fields;
  /// Further values of each record, by name ({file.NAME}); not shown.
  std::vector<std::pair<std::string, record_field>> extra;
  std::string step;  ///< the answer read, as in value_reading
  std::optional<folders_rule> folders;
};

/// A listing that comes a page at a time: the step is asked again, {param} the
/// page's number (from `start`, by `step`) or the cursor the answer before gave.
struct pages_rule {
  std::string param;
  long long start = 1;
  long long step = 1;
  std::optional<value_reading> cursor;  ///< read from each answer, sent in the next request
  std::string cursor_start;             ///< with a cursor: what the first request sends
  std::optional<condition_rule> more;   ///< on each answer: another page follows
  std::size_t max = 1000;               ///< the most pages
};

/// The most pages a rule may ask for.
inline constexpr std::size_t most_pages = 10000;

enum class http_method { get, post };

/// What a per-file step gives its file (or, for a batch, each of its files).
struct gives_rule {
  std::string json_array;               ///< a batch: the array whose elements are the files'
  std::optional<condition_rule> match;  ///< a batch: the element that is a file's
  std::array<std::optional<value_reading>, 4> fields;
};

/// A further request, its address filled with values read from earlier answers.
struct step_rule {
  std::string name;
  std::string address;  ///< a template, each value percent-escaped
  http_method method = http_method::get;
  std::vector<std::pair<std::string, std::string>> form;  ///< name and template of each field
  std::optional<std::string> json_body;                   ///< a template of a JSON text
  std::vector<std::pair<std::string, std::string>> headers;  ///< name and template
  std::vector<std::pair<std::string, value_reading>> values;
  std::vector<fail_rule> fails;
  std::optional<pages_rule> pages;
  bool for_each_file = false;  ///< run once per file (or batch), after the listing
  std::size_t batch = 0;       ///< files per request; 0 for one
  std::string join = ",";      ///< a batch's values joined with it
  std::optional<gives_rule> gives;
};

enum class answer_encoding { automatic, utf8, gbk };

struct request_rule {
  std::optional<std::string> user_agent;
  std::vector<std::pair<std::string, std::string>> headers;
  answer_encoding encoding = answer_encoding::automatic;
};

/// [limits]: how gently the service's hosts are asked, on top of the command's own
/// --max-per-host (the stricter wins).
struct limits_rule {
  int max_per_host = 0;  ///< requests at once to one host; 0: no limit of its own
  long interval_ms = 0;  ///< the least time between the starts of two requests to one host
};

/// [password]: where the share's extraction code is found when the command line
/// does not give it.
struct password_rule {
  std::string query;  ///< a query parameter of the share address; empty: none
  std::string text;   ///< a pattern whose group 1 finds it in pasted share text; empty: none
};

/// Everything a rule file says about one service.
struct service_rule {
  std::string name;
  std::string title;
  std::vector<std::string> addresses;  ///< regular expressions
  bool md5_is_content_hash = false;
  request_rule request;
  std::vector<std::pair<std::string, value_reading>> values;  ///< [values]
  std::vector<fail_rule> fails;                               ///< [[fail]], on the share page
  std::array<value_reading, 4> fields;
  bool single_precision_size = false;  ///< [fields.size] precision = "single"
  record_rule records;
  std::vector<step_rule> steps;
  /// The share is read only with a cookie of the user's (--cookies) for its address.
  bool needs_login = false;
  limits_rule limits;
  password_rule password;

  const value_reading& field(rule_field f) const { return fields[static_cast<std::size_t>(f)]; }
};

/// The most steps a rule may have.
inline constexpr std::size_t most_steps = 10;

/// The most files one request of a batch may ask for.
inline constexpr std::size_t most_batch = 1000;

/// Where and why a rule file is refused (line and column from 1; 0 when unknown).
struct rule_problem {
  int line = 0;
  int column = 0;
  std::string what;
};

/// Reads a rule file (TOML). Every key is checked: an unknown key, a value of the
/// wrong kind, a pattern that does not compile (with the engine's reason and
/// place), a step address whose scheme or host is not fixed or whose "{" is not
/// closed, more than most_steps steps, a name that is not letters, digits and "-"
/// are each a problem. When `warnings` is given, it receives what reads but reads
/// nothing, each at its place, its text beginning with "warning: ": a value's
/// pattern without a group, a group of the records' pattern that no field reads,
/// a record field naming a group the pattern does not have.
std::variant<service_rule, rule_problem> read_rule(std::string_view toml_text,
                                                   std::vector<rule_problem>* warnings = nullptr);

/// "FILE:LINE:COLUMN: what is wrong" (LINE and COLUMN left out when unknown).
std::string describe(const rule_problem& problem, std::string_view file);

}  // namespace sharelink
