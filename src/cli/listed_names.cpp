#include "cli/listed_names.h"

#include "download/files.h"
#include "download/safe_name.h"

namespace sharelink::cli {

std::string path_in_share(const file_entry& f) { return f.file_name; }

std::optional<std::string> listed_path(const file_entry& f, const std::string& owner, aria2_listing& listed,
                                       name_claims& names) {
  if (!listed.owners.insert(owner).second) return std::nullopt;
  const std::string own = safe_file_name(f.file_name, f.download_url, native_name_units);
  // Numbering goes on where the last file of this name left it.
  int& n = listed.next_number[path_compare_key(own)];
  std::string name = n == 0 ? own : numbered_file_name(own, n, native_name_units);
  while (!names.claim(name, owner) && n < most_numbered_names) name = numbered_file_name(own, ++n, native_name_units);
  ++n;
  return name;
}

}  // namespace sharelink::cli
