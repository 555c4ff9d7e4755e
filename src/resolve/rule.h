#pragma once
// A share service described as data: what a rule file says, read and checked.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

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
};

/// Where a value is read in an answer: group 1 of the last match of `pattern`, or
/// the value at the JSON pointer `json` of an answer that is JSON.
struct value_reading {
  std::string pattern;
  std::optional<std::string> json;
  std::vector<decode_step> decode;
  std::string step;  ///< the answer read: a step's name, "page", or empty for the last
  bool given() const { return !pattern.empty() || json.has_value(); }
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
};

enum class record_reader { none, pattern, json_array, start_tags, data_objects };

/// How every file of a page is found.
struct record_rule {
  record_reader reader = record_reader::none;
  std::string pattern;     ///< pattern: one file per match, named groups
  std::string json_array;  ///< json_array: a JSON pointer to the array of files
  std::string marker;      ///< start_tags: the attribute, data_objects: the key marking a file
  std::array<std::optional<record_field>, 4> fields;
  std::string step;  ///< the answer read, as in value_reading
};

/// A further request, its address filled with values read from earlier answers.
struct step_rule {
  std::string name;
  std::string address;  ///< template: "{NAME}" is the value NAME, percent-escaped
  std::vector<std::pair<std::string, value_reading>> values;
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
inline constexpr std::size_t most_steps = 5;

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
