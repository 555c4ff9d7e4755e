#include "resolve/page_reading.h"

#include "resolve/file_type.h"
#include "resolve/kuaichuan.h"
#include "resolve/pan.h"

namespace sharelink {

page_reading read_kuaichuan_page(std::string_view page_text) {
  page_reading reading;
  reading.fields = parse_kuaichuan_page(page_text);
  reading.extension = file_type_key(reading.fields.file_name);
  return reading;
}

page_reading read_pan_page(std::string_view page_text) {
  page_reading reading;
  reading.fields = parse_pan_page(page_text);
  reading.extension = file_type_key(reading.fields.file_name);
  return reading;
}

}  // namespace sharelink
