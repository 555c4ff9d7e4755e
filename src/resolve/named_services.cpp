#include "resolve/named_services.h"

#include "resolve/service_resolve.h"
#include "resolve/share_text.h"
#include "rules/services.h"

namespace sharelink {

resolved_file shown_fields(const file_record& file) {
  return {file.download_url, file.file_name, file.file_type, file.size, file.md5};
}

resolved_file resolve_named_service(std::string_view name, std::string_view address, const fetch_options& options) {
  return shown_fields(read_named_service(name, address, options).fields);
}

page_reading read_named_service(std::string_view name, std::string_view address, const fetch_options& options) {
  const service_entry* service = process_services().find(name);
  if (service == nullptr) return {};
  const share_input share = read_share_text(address, process_services(), service);
  // moved: a temporary's member
  return resolve_service(service->rule, share.address, options, {}, share.password).read.reading;
}

resolved_file resolve_kuaichuan(std::string_view share_address, const fetch_options& options) {
  return resolve_named_service("kuaichuan", share_address, options);
}

resolved_file resolve_pan(std::string_view share_address, const fetch_options& options) {
  return resolve_named_service("pan", share_address, options);
}

}  // namespace sharelink
