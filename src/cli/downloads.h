#pragma once
// The download steps of the command: the files of a page checked for a downloader,
// downloaded one after another, and the line that says how each ended.
#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "cli/report.h"

namespace sharelink::cli {

class session;

/// What tells each file of `r` from every other file across runs, as a hash, in page
/// order: the page's address, the file's name, size and content MD5, and how many
/// files before it on the page have the same ones. The same file of an address
/// given twice has the same owner.
std::vector<std::string> file_owners(const resolution& r);

/// Adds `reason` to the error of `r`, after any reason it already has.
void add_error(resolution& r, const std::string& reason);

/// Checks the files of a page that was read well: a page that lists none, or a file
/// whose address is not http or https, is an error of `r` (the file is left out).
void check_files_for_download(resolution& r);

/// Downloads every file of `r` that check_files_for_download kept into
/// --output-dir, each file's outcome in its `download` and any failure in the error
/// of `r` (in page order). Several files of the page go at once, each taking one of
/// the run's places for downloads (--jobs in all) and passing its host gate for as
/// long as it runs. No file starts once the run is interrupted.
void download_files(resolution& r, session& run);

/// The labelled line for a downloaded file ("saved: ...", "already there: ...",
/// "failed: NAME: reason"), ending in "\n"; `index` is its place on the page.
std::string download_line(const file_entry& f, std::size_t index);

}  // namespace sharelink::cli
