#include "testing/reference/file_records.h"

#include <span>
#include <vector>

#include "codec/char_refs.h"
#include "codec/percent.h"
#include "reading/data_objects.h"
#include "codec/gb18030.h"
#include "reading/decode_steps.h"
#include "reading/file_type.h"
#include "testing/reference/kuaichuan.h"
#include "testing/reference/pan.h"
#include "reading/size_format.h"
#include "reading/start_tags.h"

namespace sharelink {
namespace {

/// The value of the first attribute named `name` (exactly), or nothing.
const tag_attribute* find_attribute(std::span<const tag_attribute> attributes, std::string_view name) {
  for (const tag_attribute& attribute : attributes)
    if (attribute.name == name) return &attribute;
  return nullptr;
}

std::string_view value_of(const tag_attribute* attribute) {
  return attribute == nullptr ? std::string_view() : attribute->value;
}

/// The name-derived and size-derived fields of a record, from its decoded name and
/// its size value as it stands; `size` is the value as the service's resolver reads it.
void fill_name_and_size(file_record& record, double size, std::string_view size_value) {
  record.file_type = classify_file_type(record.file_name);
  record.extension = file_type_key(record.file_name);
  record.size = format_size(size);
  record.size_bytes = read_whole_bytes(size_value);
}

/// The file the markers describe: their five fields, and the size marker's value.
file_record markers_record(const resolved_file& fields, std::string_view size_value) {
  return {fields.download_url, fields.file_name, fields.file_type, file_type_key(fields.file_name), fields.size,
          read_whole_bytes(utf8_or_gb18030(size_value)), fields.md5, {}, {}, {}};
}

/// Which fields a record's own markup gave.
struct fields_present {
  bool file_name = true, size = true, md5 = true;
};

/// A page that lists one file describes that file with its markers too: a field the
/// record leaves out is the markers' (in `reading`, read from the markers).
void complete_lone_record(page_reading& reading, fields_present present) {
  if (reading.files.size() != 1 || reading.more_files) return;
  file_record& record = reading.files.front();
  if (!present.file_name) {
    record.file_name = reading.fields.file_name;
    record.file_type = reading.fields.file_type;
    record.extension = reading.fields.extension;
  }
  if (!present.size) {
    record.size = reading.fields.size;
    record.size_bytes = reading.fields.size_bytes;
  }
  if (!present.md5) record.md5 = reading.fields.md5;
}

}  // namespace

page_reading read_kuaichuan_page(std::string_view page_text) {
  const std::string_view page = as_local(page_text);
  const kuaichuan_markers markers = find_kuaichuan_markers(page);
  page_reading reading;
  reading.fields = markers_record(kuaichuan_fields(markers), markers.size);

  // Each element with a file_url attribute is one file. Of a repeated attribute
  // the first counts, as in a browser. The elements are gathered first so that
  // the records, much larger, are made in a vector of the right size.
  struct element {
    std::string_view url, name, size;
    fields_present present;
  };
  std::vector<element> elements;
  element last{};  // the page's last file, read even past most_files
  const auto visit = [&](std::span<const tag_attribute> attributes) {
    const tag_attribute* url = find_attribute(attributes, "file_url");
    if (url == nullptr) return;
    const tag_attribute* name = find_attribute(attributes, "file_name");
    const tag_attribute* size = find_attribute(attributes, "file_size");
    last = {url->value, value_of(name), value_of(size), {name != nullptr, size != nullptr, true}};
    if (elements.size() == most_files) {
      reading.more_files = true;
      return;
    }
    elements.push_back(last);
  };
  // Without elements in the markup, those a script or comment holds: a page that
  // writes its list from a script still gives one file's fields together.
  for_each_start_tag(page, visit);
  if (elements.empty()) for_each_start_tag(page, visit, true);
  const local_text key = reading.fields.md5;
  auto record_of = [&key](const element& found) {
    file_record record;
    record.download_url =
        utf8_or_gb18030(decode_char_refs(utf8_or_gb18030(found.url, broken_bytes::escaped)), broken_bytes::escaped);
    record.file_name = utf8_or_gb18030(decode_kuaichuan_file_name(utf8_or_gb18030(found.name)));
    const local_text size_value = utf8_or_gb18030(decode_char_refs(utf8_or_gb18030(found.size)));
    fill_name_and_size(record, to_number(size_value), size_value);
    record.md5 = key;
    return record;
  };
  reading.files.reserve(elements.size());
  for (const element& found : elements) reading.files.push_back(record_of(found));
  complete_lone_record(reading, last.present);
  if (reading.more_files) {
    reading.fields = record_of(last);
  } else if (!reading.files.empty()) {
    reading.fields = reading.files.back();
  }
  return reading;
}

page_reading read_pan_page(std::string_view page_text) {
  const std::string_view page = as_local(page_text);
  const pan_markers markers = find_pan_markers(page);
  page_reading reading;
  reading.fields = markers_record(pan_fields(markers), markers.size);

  std::vector<data_object> objects = find_data_objects(page);
  auto record_of = [](const data_object& object) {
    file_record record;
    record.download_url = utf8_or_gb18030(unescape_slashes(utf8_or_gb18030(object.values[0], broken_bytes::escaped)),
                                          broken_bytes::escaped);
    record.file_name = utf8_or_gb18030(percent_decode(utf8_or_gb18030(object.values[1])));
    const local_text size_value = utf8_or_gb18030(object.values[2]);
    // Single precision, as the window reads it; size_bytes keeps the exact value.
    fill_name_and_size(record, to_single(size_value), size_value);
    record.md5 = utf8_or_gb18030(object.values[3]);
    return record;
  };
  if (objects.empty()) return reading;
  const file_record last_record = record_of(objects.back());
  const fields_present present{objects.back().has[1], objects.back().has[2], objects.back().has[3]};
  if (objects.size() > most_files) {
    reading.more_files = true;
    objects.resize(most_files);
  }
  reading.files.reserve(objects.size());
  for (const data_object& object : objects) reading.files.push_back(record_of(object));
  complete_lone_record(reading, present);
  reading.fields = reading.more_files ? last_record : reading.files.back();
  return reading;
}

}  // namespace sharelink
