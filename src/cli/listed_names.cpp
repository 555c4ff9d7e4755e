#include "cli/listed_names.h"

#include "download/files.h"
#include "download/safe_name.h"

namespace sharelink::cli {

std::string path_in_share(const file_entry& f) { return f.folder.empty() ? f.file_name : f.folder + "/" + f.file_name; }

std::string listed_folder(const file_entry& f) {
  const std::string folder = safe_folder_path(f.folder, native_name_units);
  return folder.empty() ? folder : folder + "/";
}

std::optional<std::string> listed_path(const file_entry& f, const std::string& owner, aria2_listing& listed,
                                       name_claims& names) {
  if (!listed.owners.insert(owner).second) return std::nullopt;
  const std::string folder = listed_folder(f);
  const std::string own = safe_file_name(f.file_name, f.download_url, native_name_units);
  // Numbering goes on where the last file of this name left it.
  int& n = listed.next_number[path_compare_key(folder + own)];
  std::string name = n == 0 ? own : numbered_file_name(own, n, native_name_units);
  while (!names.claim(folder + name, owner) && n < most_numbered_names) name = numbered_file_name(own, ++n, native_name_units);
  ++n;
  return folder + name;
}

}  // namespace sharelink::cli
