// The per-file reading of a page, both services: on the input as a page, and on
// one-file pages in the sample form built from pieces of the input.
#include <cstdint>
#include <string>

#include "parse_fields.h"
#include "reading/file_type.h"
#include "testing/reference/kuaichuan.h"
#include "testing/reference/file_records.h"
#include "testing/reference/pan.h"
#include "reading/rule_reading.h"
#include "rules/services.h"
#include "reading/size_format.h"
#include "resolve/named_services.h"
#include "runtime/text.h"

using namespace sharelink;
using fuzz::check;

namespace {

/// What holds for a reading of any page of either service.
void check_reading(const page_reading& reading, const resolved_file& parsed, std::string_view page, bool pan) {
  // The window shows the last file whole; without files, the markers.
  if (reading.files.empty()) {
    check(shown_fields(reading.fields) == parsed, "the window's fields differ from the parse");
  } else if (!reading.more_files) {
    check(reading.fields == reading.files.back(), "the window's fields are not the last file's");
  }
  check(reading.fields.extension == file_type_key(reading.fields.file_name), "extension does not follow from the name");
  // A whole-number size is the size the window formats (Pan: at single precision).
  auto formatted = [pan](std::uint64_t bytes) {
    const double size = static_cast<double>(bytes);
    return format_size(pan ? static_cast<double>(static_cast<float>(size)) : size);
  };
  if (reading.fields.size_bytes)
    check(reading.fields.size == formatted(*reading.fields.size_bytes), "size_bytes disagrees with size");

  for (const file_record& file : reading.files) {
    fuzz::check_fields({file.download_url, file.file_name, file.file_type, file.size, file.md5}, page);
    check(!fuzz::has_zero_byte(file.extension), "an extension holds a zero byte");
    check(file.extension == file_type_key(file.file_name), "a file's extension does not follow from its name");
    if (file.size_bytes) check(file.size == formatted(*file.size_bytes), "a file's size_bytes disagrees with its size");
    if (!pan) check(file.md5 == reading.fields.md5, "a Kuaichuan file's MD5 is not the page's key");
  }
}

/// `value` without the bytes that would end it early or change the page's form.
std::string clean(std::string_view value, std::string_view unwanted) {
  std::string kept;
  for (char c : value)
    if (c != '\0' && unwanted.find(c) == std::string_view::npos) kept.push_back(c);
  return kept;
}

/// On a one-file page in the sample form the file is the window's result.
void check_one_file(const page_reading& reading) {
  check(reading.files.size() == 1, "a one-file page does not give one file");
  check(reading.files[0] == reading.fields, "the one file disagrees with the window's result");
}

}  // namespace

/// The built-in services' rules read every page exactly as the readers do.
void check_rules_agree(std::string_view page, const page_reading& kuaichuan, const page_reading& pan) {
  static const service_registry built_in = service_registry::built_in();
  const rule_answers answers = {{"page", local_text(page)}};
  check(read_with_rule(built_in.find("kuaichuan")->rule, answers).reading == kuaichuan,
        "the kuaichuan rule reads the page otherwise than the reader");
  check(read_with_rule(built_in.find("pan")->rule, answers).reading == pan,
        "the pan rule reads the page otherwise than the reader");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  check_reading(read_kuaichuan_page(page), parse_kuaichuan_page(page), page, false);
  check_reading(read_pan_page(page), parse_pan_page(page), page, true);
  // An answer ends at its first zero byte (to_text) before a rule reads it.
  const local_text text = to_text(page);
  check_rules_agree(text, read_kuaichuan_page(text), read_pan_page(text));

  fuzz::input_reader pieces(data, size);
  const std::string_view url = pieces.take_until('\x01'), name = pieces.take_until('\x01'),
                         bytes = pieces.take_until('\x01'), key = pieces.take_until('\x01');

  // Quotes and brackets would end a value or open markup, and with "=" a value
  // could spell a marker; the size goes through both readers unchanged only when
  // it holds no reference.
  const std::string k_size = clean(bytes, "\"'<>&=");
  const std::string kuaichuan = "<html><body><ul><li><a class=\"file_name\" href=\"javascript:;\" file_url=\"" +
                                clean(url, "\"<>=") + "\" file_size=\"" + k_size + "\" file_name=\"" +
                                clean(name, "\"<>=") + "\" title=\"t\">x</a></li></ul>"
                                "<input type=\"hidden\" id=\"first_file_size\" value='" + k_size +
                                "'>\n<input type=\"hidden\" id=\"key\" value='" + clean(key, "\"'<>=") + "'></body></html>";
  check_one_file(read_kuaichuan_page(kuaichuan));
  check_rules_agree(kuaichuan, read_kuaichuan_page(kuaichuan), read_pan_page(kuaichuan));

  // A backslash or quote would end a value of the escaped data.
  const std::string q = "\\\"";
  const std::string pan = "<script>yunData.setData(JSON.parse(\"{" + q + "file_list" + q + ":{" + q + "list" + q +
                          ":[{" + q + "fs_id" + q + ":" + q + "1" + q + "," + q + "size" + q + ":" + q +
                          clean(bytes, "\\\"") + q + "," + q + "md5" + q + ":" + q + clean(key, "\\\"") + q + "," +
                          q + "dlink" + q + ":" + q + clean(url, "\\\"") + "&filename=" + clean(name, "\\\"") + q +
                          "}]}}\"));</script>";
  check_one_file(read_pan_page(pan));
  check_rules_agree(pan, read_kuaichuan_page(pan), read_pan_page(pan));
  return 0;
}
