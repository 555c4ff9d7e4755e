#include "download/download.h"

namespace sharelink {

download_result download_file(const download_job&, const download_progress_handler&) {
  download_result result;
  result.error = "downloads are not available yet";
  return result;
}

}  // namespace sharelink
