#pragma once
// The paths the files of a run get under the output folder, as --download saves
// them into a folder of its own: what the --aria2 list, aria2 over RPC, --check and
// --md5sums name each file.
#include <map>
#include <optional>
#include <set>
#include <string>

#include "cli/report.h"
#include "download/download.h"

namespace sharelink::cli {

/// The file's path inside its share as the page gives it (UTF-8): its folder and
/// its name, joined by "/".
std::string path_in_share(const file_entry& f);

/// The folder the file is saved in under the output folder, relative to it and
/// made safe (safe_folder_path), with a "/" after it; empty at the top.
std::string listed_folder(const file_entry& f);

/// What a run has named so far.
struct aria2_listing {
  std::set<std::string> owners;            ///< the files named (see file_owners)
  std::map<std::string, int> next_number;  ///< per name (path_compare_key): where its numbering goes on
};

/// The path relative to the output folder that `f` (told by `owner`, see
/// file_owners) is saved under: its folder (listed_folder) and its safe name,
/// numbered ("NAME (1).ext") when a file before it in the run took the name. Nothing when `owner` was named already
/// (its address given twice). Called in page order, pages in input order.
std::optional<std::string> listed_path(const file_entry& f, const std::string& owner, aria2_listing& listed,
                                       name_claims& names);

}  // namespace sharelink::cli
