#pragma once
// The services the window's two buttons read, by name: a user's rule file of that
// name included.
#include <string_view>

#include "reading/file_record.h"
#include "runtime/fetch.h"

namespace sharelink {

/// What the window shows of a file: five texts, each always present, possibly empty.
struct resolved_file {
  local_text download_url;
  local_text file_name;
  local_text file_type;  ///< classify_file_type(file_name)
  local_text size;       ///< format_size(size in bytes), "0B" when the page has none
  local_text md5;        ///< for Kuaichuan pages: the page's key value
  bool operator==(const resolved_file&) const = default;
};

/// The window's five texts of `file`.
resolved_file shown_fields(const file_record& file);

/// The window's fields for `address` read by the service called `name` in
/// process_services() (a user's rule of that name included): resolve_service's
/// reading. `address` may be share text (read_share_text). Empty fields and the
/// size "0B" when there is no such service.
resolved_file resolve_named_service(std::string_view name, std::string_view address, const fetch_options& options);

/// resolve_named_service's page read whole: the window's fields and every file the
/// page lists. Empty fields, the size "0B" and no files when there is no such service.
page_reading read_named_service(std::string_view name, std::string_view address, const fetch_options& options);

/// Fetches the Kuaichuan share page at `share_address` and reads the window's
/// fields from it with the service's rule (the last file the page lists, else the
/// markers). Never fails: a failed fetch gives empty fields and the size "0B".
resolved_file resolve_kuaichuan(std::string_view share_address, const fetch_options& options = {});

/// The same for a Pan share page.
resolved_file resolve_pan(std::string_view share_address, const fetch_options& options = {});

}  // namespace sharelink
