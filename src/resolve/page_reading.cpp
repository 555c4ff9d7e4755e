#include "resolve/page_reading.h"

#include <span>
#include <vector>

#include "codec/char_refs.h"
#include "codec/percent.h"
#include "resolve/data_objects.h"
#include "resolve/file_type.h"
#include "resolve/kuaichuan.h"
#include "resolve/pan.h"
#include "resolve/size_format.h"
#include "resolve/start_tags.h"

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

}  // namespace

page_reading read_kuaichuan_page(std::string_view page_text) {
  const std::string_view page = as_local(page_text);
  const kuaichuan_markers markers = find_kuaichuan_markers(page);
  page_reading reading;
  reading.fields = kuaichuan_fields(markers);
  reading.extension = file_type_key(reading.fields.file_name);
  reading.size_bytes = read_whole_bytes(markers.size);

  // Each element with a file_url attribute is one file. Of a repeated attribute
  // the first counts, as in a browser. The elements are gathered first so that
  // the records, much larger, are made in a vector of the right size.
  struct element {
    std::string_view url, name, size;
  };
  std::vector<element> elements;
  for_each_start_tag(page, [&](std::span<const tag_attribute> attributes) {
    const tag_attribute* url = find_attribute(attributes, "file_url");
    if (url == nullptr) return;
    if (elements.size() == most_files) {
      reading.more_files = true;
      return;
    }
    elements.push_back({url->value, value_of(find_attribute(attributes, "file_name")),
                        value_of(find_attribute(attributes, "file_size"))});
  });
  reading.files.reserve(elements.size());
  for (const element& found : elements) {
    file_record record;
    record.download_url = decode_char_refs(found.url);
    record.file_name = decode_kuaichuan_file_name(found.name);
    const local_text size_value = decode_char_refs(found.size);
    fill_name_and_size(record, to_number(size_value), size_value);
    record.md5 = reading.fields.md5;
    reading.files.push_back(std::move(record));
  }
  return reading;
}

page_reading read_pan_page(std::string_view page_text) {
  const std::string_view page = as_local(page_text);
  const pan_markers markers = find_pan_markers(page);
  page_reading reading;
  reading.fields = pan_fields(markers);
  reading.extension = file_type_key(reading.fields.file_name);
  reading.size_bytes = read_whole_bytes(markers.size);

  std::vector<data_object> objects = find_data_objects(page);
  if (objects.size() > most_files) {
    reading.more_files = true;
    objects.resize(most_files);
  }
  reading.files.reserve(objects.size());
  for (const data_object& object : objects) {
    file_record record;
    record.download_url = unescape_pan_address(object.download_url);
    record.file_name = percent_decode(object.file_name);
    // Single precision, as the window reads it; size_bytes keeps the exact value.
    fill_name_and_size(record, to_single(object.size), object.size);
    record.md5 = local_text(object.md5);
    reading.files.push_back(std::move(record));
  }
  return reading;
}

}  // namespace sharelink
