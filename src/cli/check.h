#pragma once
// --check: the files of the pages compared with what the output folder holds, and
// --md5sums: the pages' MD5s as md5sum -c reads them.
#include <atomic>
#include <cstddef>
#include <string>

#include "cli/listed_names.h"
#include "cli/report.h"

namespace sharelink::cli {

/// Looks at each file of `r` where --download would have saved it in `output_dir`
/// (named through `listed` and `names`, as the --aria2 list names it): missing, of
/// another size than the page states, of another MD5 (where the page's is a
/// content hash), or whole, in its `check`. Each file that is not whole is an
/// error of `r`. Reading a file for its MD5 stops once `cancel` turns true.
void check_files(resolution& r, const std::string& output_dir, aria2_listing& listed, name_claims& names,
                 const std::atomic<bool>& cancel);

/// The labelled line of a checked file ("whole: PATH ...", "missing: PATH", ...),
/// or empty when it was not checked.
std::string check_line(const file_entry& f);

/// The lines md5sum -c reads for the files of `r` whose MD5 is a content hash
/// ("MD5  PATH", the path relative to the output folder, named through `listed` and
/// `names`).
std::string md5sum_lines(const resolution& r, aria2_listing& listed, name_claims& names);

}  // namespace sharelink::cli
