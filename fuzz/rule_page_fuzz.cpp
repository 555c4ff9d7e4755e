// A random rule, put together from the input's first bytes, applied to the rest
// of the input as a page: every reader and decode step, patterns with and without
// the shape the fast search knows, JSON pointers.
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "check.h"
#include "codec/utf8.h"
#include "reading/file_type.h"
#include "reading/rule_reading.h"

using namespace sharelink;
using fuzz::check;

namespace {

/// What `pointer` gives in `page` parsed whole into a tree, as a field reads it:
/// a text as it stands, any other value but null as JSON.
std::optional<local_text> in_whole_tree(const local_text& page, const std::string& pointer) {
  const nlohmann::json whole = nlohmann::json::parse(page, nullptr, false);
  if (whole.is_discarded()) return std::nullopt;
  try {
    const nlohmann::json::json_pointer at(pointer);
    if (!whole.contains(at) || whole.at(at).is_null()) return std::nullopt;
    const nlohmann::json& value = whole.at(at);
    if (value.is_string()) return value.get<std::string>();
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

constexpr const char* patterns[] = {
    R"re(file_url=\x22(.*?)(\x22 file_size=))re", R"re(\x22md5\\+\x22:\\+\x22(.*?)(\\+\x22))re",
    R"re(filename=(.*?)(\\+\x22))re", R"re(<a href="([^"]*)")re", R"re((\w+)@)re", R"re(x(.*)y)re",
    R"re(([0-9]+) bytes)re", R"re((a|ab)*(c))re", R"re(key\x22 value='(.*?)('>))re"};
constexpr const char* record_patterns[] = {R"re(<f u="(?<download_url>[^"]*)" n="(?<file_name>[^"]*)")re",
                                           R"re((?<download_url>https?://\S+)(?:\s+(?<size>\d+))?)re",
                                           R"re((?<file_name>[^,]*),(?<md5>[^\n]*))re"};
constexpr const char* templates[] = {"https://h{x}", "{file.id}", "a{}{", "[{share}]"};
constexpr const char* names[] = {"file_url", "dlink", "size", "md5", "href", "/a", "/0/b", "", "filename="};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input_reader in(data, size);
  service_rule rule;
  rule.name = "f";
  const auto pick = [&](auto& list) { return list[in.take<std::uint8_t>() % std::size(list)]; };
  for (value_reading& field : rule.fields) {
    const std::uint8_t how = in.take<std::uint8_t>();
    if (how % 3 == 0) field.pattern = pick(patterns);
    if (how % 3 == 1) field.json = pick(names);
    if (how % 7 == 2) field.filled = pick(templates);
    for (std::uint8_t steps = in.take<std::uint8_t>() % 4; steps > 0; --steps)
      field.decode.push_back(static_cast<decode_step>(in.take<std::uint8_t>() % decode_step_names.size()));
  }
  rule.single_precision_size = in.take<std::uint8_t>() % 2;
  rule.records.reader = static_cast<record_reader>(in.take<std::uint8_t>() % 5);
  rule.records.pattern = pick(record_patterns);
  rule.records.json_array = in.take<std::uint8_t>() % 2 ? "" : "/list";
  rule.records.marker = pick(names);
  for (auto& field : rule.records.fields) {
    if (in.take<std::uint8_t>() % 3 == 0) continue;
    field = record_field{pick(names), in.take<std::uint8_t>() % 4 == 0 ? "filename=" : "", std::nullopt, std::nullopt};
  }
  if (rule.records.reader == record_reader::pattern)
    for (std::size_t i = 0; i < rule.records.fields.size(); ++i)
      rule.records.fields[i] = record_field{std::string(rule_field_names[i]), {}, std::nullopt, std::nullopt};
  // A further value, a field made of it, and folders told by a condition.
  if (in.take<std::uint8_t>() % 2 && rule.records.reader != record_reader::data_objects) {
    rule.records.extra.emplace_back("id", record_field{pick(names), {}, std::nullopt, std::nullopt});
    rule.records.fields[3] = record_field{{}, {}, std::nullopt, std::string("<{file.id}>")};
  }
  if (rule.records.reader == record_reader::json_array || rule.records.reader == record_reader::pattern) {
    const std::uint8_t how = in.take<std::uint8_t>();
    if (how % 3 == 1) {
      folders_rule folders;
      if (rule.records.reader == record_reader::json_array) folders.when.json = pick(names);
      else folders.when.pattern = pick(patterns);
      if (how % 2) folders.when.equals = "{file.file_name}";
      folders.path = record_field{pick(names), {}, std::nullopt, std::nullopt};
      rule.records.folders = folders;
    }
  }

  const local_text page = to_text(in.take_bytes(size));
  const rule_reading read = read_with_rule(rule, {{"page", page}});
  const page_reading& r = read.reading;
  check(r.files.size() <= most_files, "more files than most_files");
  check(r.fields.file_type == classify_file_type(r.fields.file_name), "the file type does not follow from the name");
  check(!r.fields.size.empty() && r.fields.size.back() == 'B', "the size is no formatted size");
  if (!r.files.empty() && !r.more_files) check(r.fields.download_url == r.files.back().download_url, "not the last file");
  check(read_with_rule(rule, {{"page", page}}).reading == r, "a second reading differs");

  // A pointer gives what it gives in the whole answer, though only what pointers
  // reach is kept of it (a page nested too deep to be read so is left out).
  // (An answer that is not UTF-8 is read as GB18030 before it is parsed, which the
  // whole parse here does not do.)
  for (value_reading field : rule.fields) {
    if (!field.json || field.filled || !is_utf8(page)) continue;
    field.decode.clear();
    std::optional<failure> error;
    const std::optional<local_text> value = read_value(field, {{"page", page}}, error);
    if (!error) check(value == in_whole_tree(page, *field.json), "a pointer reads otherwise than in the whole answer");
  }
  return 0;
}
