// A rule with steps, pages, folders and steps for files, chosen by the input's
// first byte, resolved over answers the rest of the input makes up: each request
// takes the next run of bytes as its answer, its first byte the status.
#include <cstdint>
#include <mutex>
#include <string>
#include <variant>

#include "check.h"
#include "download/safe_name.h"
#include "runtime/relative_address.h"
#include "rules/rule.h"
#include "resolve/service_resolve.h"

using namespace sharelink;
using fuzz::check;

namespace {

constexpr const char* rules[] = {
    // A code checked by a POST, a counter's pages, folders, a batch for the links.
    R"rule(name = 'a'
[values]
sign = { pattern = 'sign="([^"]*)"', default = 's' }
[[fail]]
json = '/gone'
kind = 'gone'
[[steps]]
name = 'verify'
address = 'https://drive.example/verify?s={sign}'
method = 'POST'
form = { pwd = '{password}', s = '{sign}' }
fail = [{ json = '/errno', equals = '-9', kind = 'password' }]
[[steps]]
name = 'list'
address = 'https://drive.example/list?dir={dir}&page={page}'
headers = { X-Sign = '{sign}' }
pages = { param = 'page', more = { json = '/more', equals = '1' }, max = 20 }
[records]
json_array = '/list'
fields = { download_url = '/u', file_name = '/n', size = { json = '/s', decode = ['size_units'] }, id = '/id' }
folders = { when = { json = '/d', equals = 'true' }, path = '/p', max_depth = 4 }
[[steps]]
name = 'links'
address = 'https://drive.example/links'
method = 'POST'
json_body = '{"ids": "{file.id}", "in": {file.folder}}'
for_each = 'file'
batch = 3
gives = { json_array = '/l', match = { json = '/id', equals = '{file.id}' }, download_url = { json = '/u' } }
)rule",
    // A cursor's pages of pattern records, folders told by a pattern, a link per file.
    R"rule(name = 'b'
[[steps]]
name = 'list'
address = 'https://drive.example/l/{c}?d={dir}'
pages = { param = 'c', cursor = { pattern = 'next=(\w+)' }, max = 30 }
[records]
pattern = '<f u="(?<download_url>[^"]*)" n="(?<file_name>[^"]*)"(?: d="(?<dir>[^"]*)")?>'
fields = { id = 'file_name' }
folders = { when = { pattern = ' d="' }, path = 'dir' }
[[steps]]
name = 'link'
address = 'https://drive.example/get?n={file.file_name}'
for_each = 'file'
gives = { download_url = { pattern = 'url=(\S+)' }, size = { json = '/size' } }
)rule",
    // A template field from values, a step with a JSON body of its own.
    R"rule(name = 'c'
[values]
host = { json = '/h', default = 'https://dl.example' }
path = { pattern = 'path=(\S+)' }
[fields.download_url]
template = '{host}/{path}'
[fields.file_name]
json = '/name'
[[steps]]
name = 'probe'
address = 'https://drive.example/probe'
method = 'POST'
json_body = '{"p": {path}, "x": "{host}"}'
)rule",
};

service_rule rule_number(std::size_t i) {
  static const std::vector<service_rule> read = [] {
    std::vector<service_rule> all;
    for (const char* text : rules) {
      auto rule = read_rule(text);
      check(std::holds_alternative<service_rule>(rule), "an example rule does not read");
      all.push_back(std::get<service_rule>(rule));
    }
    return all;
  }();
  return read[i % read.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input_reader in(data, size);
  const service_rule rule = rule_number(in.take<std::uint8_t>());
  std::mutex taking;
  std::size_t requests = 0;
  resolve_settings settings;
  settings.password = "Zq9";
  settings.at_once = 1;  // one answer after another, as the input gives them
  settings.fetcher = [&](std::string_view address, const fetch_options& options) {
    std::lock_guard lock(taking);
    ++requests;
    check(address.starts_with("https://drive.example/") || address == "https://drive.example/s/1",
          "a request to a host the rule did not write");
    for (const std::string& header : options.headers)
      check(!has_control_character(header), "a header line that holds a control character");
    fetch_outcome outcome;
    const std::string_view answer = in.take_until('\xFF');
    const char status = answer.empty() ? '\0' : answer[0];
    outcome.fetched = status != 'x';
    outcome.status = status == '4' ? 404 : status == '5' ? 500 : 200;
    outcome.body = answer.empty() ? std::string() : std::string(answer.substr(1));
    outcome.final_address = status == 'r' ? "https://drive.example/moved/here" : std::string(address);
    return outcome;
  };
  struct listener final : rule_trace {
    void request(const traced_request& r) override {
      check(r.address.find("Zq9") == std::string::npos, "the extraction code shown");
    }
    void reading(const traced_reading&) override {}
  } trace;
  settings.trace = &trace;
  const service_resolution found = resolve_service(rule, "https://drive.example/s/1", settings);
  check(requests <= 3 * most_files, "more requests than a resolution makes");
  check(found.read.reading.files.size() <= most_files, "more files than most_files");
  for (const file_record& f : found.read.reading.files) {
    check(f.error || f.download_url.empty() || is_web_address(f.download_url),
          "a download address that is not http or https, given as a success");
    const std::string folder = safe_folder_path(f.folder, name_units::utf8_bytes);
    check(!folder.starts_with("/") && folder.find("..") != 0 && folder.find("/../") == std::string::npos &&
              !folder.ends_with("/.."),
          "a folder that leaves the output folder");
  }
  return 0;
}
