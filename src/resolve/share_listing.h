#pragma once
// Inside one resolution: the listing of the share (share_listing.cpp).
#include <optional>
#include <string>
#include <vector>

#include "resolve/share_run.h"

namespace sharelink::share_engine {

/// What the listing of a share holds.
struct share_listing {
  /// The files in listing order, the files of each folder where the folder stood,
  /// each with its folder path; before [fields] fill in what they leave out.
  listed_records files;
  /// The file the window shows: the last one read.
  std::optional<listed_record> last;
  std::size_t files_read = 0;  ///< files read, kept or not
  /// What went wrong without ending the listing (a reading's error, folders left
  /// out for their depth).
  std::optional<failure> error;
};

/// Reads the share page and runs every step that lists (a paged one page after
/// page), reading the records from the answers of the step that holds them; then
/// lists the folders among them, side by side. What ends it early is the run's
/// failure. The answers of the page and the steps stay in run.top.
share_listing list_share(share_run& run);

}  // namespace sharelink::share_engine
