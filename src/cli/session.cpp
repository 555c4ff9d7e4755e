#include "cli/session.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>

#include "cli/aria2_rpc.h"
#include "cli/archive.h"
#include "cli/check.h"
#include "cli/downloads.h"
#include "cli/lookup.h"
#include "download/files.h"
#include "download/safe_name.h"
#include "runtime/fetch.h"

namespace sharelink::cli {
namespace {

// Prints `r` in the chosen form; the caller checks the stream afterwards.
void print(const resolution& r, const settings& s, bool first, name_claims& names, aria2_listing& listed,
           std::ostream& out, std::ostream& err) {
  if (r.error && !s.quiet)
    write_line(err, "sharelink: " + address_for_message(r.address) + ": " + *r.error);
  switch (s.form) {
    case output_form::labelled:
      if (s.download || s.check || !s.aria2_rpc.empty()) {
        // One line per file; a page none of whose files was tried gets one of its own.
        bool tried = false;
        for (std::size_t i = 0; i < r.files.size(); ++i) {
          const file_entry& f = r.files[i];
          const std::string line = s.download ? (f.download ? download_line(f, i) : std::string())
                                   : s.check  ? check_line(f)
                                              : aria2_rpc_line(f, i);
          out << line;
          tried = tried || !line.empty();
        }
        if (!tried)
          out << "failed: " << address_for_message(r.address) << ": "
              << one_line(r.error.value_or("the page lists no file record")) << '\n';
      } else if (s.every_file && !r.files.empty()) {
        for (std::size_t i = 0; i < r.files.size(); ++i)
          out << (first && i == 0 ? "" : "\n") << labelled_report(r.files[i]);
      } else {
        out << (first ? "" : "\n") << labelled_report(r);
      }
      break;
    case output_form::json:
      out << json_report(r) << '\n';
      break;
    case output_form::aria2: {
      // Two files of one name get two, as --download saves them: the list's
      // downloader would otherwise refuse the second or write over the first. A
      // file listed already (its address given twice) is not listed again.
      const std::vector<std::string> owners = file_owners(r);
      for (std::size_t i = 0; i < r.files.size(); ++i)
        if (const auto name = listed_path(r.files[i], owners[i], listed, names))
          out << aria2_entry(r.files[i], r.md5_is_content_hash, r.share(), *name);
      break;
    }
    case output_form::md5sums:
      out << md5sum_lines(r, listed, names);
      break;
  }
  out.flush();
  err.flush();
}

}  // namespace

session::session(const settings& chosen, const std::atomic<bool>& interrupted, std::ostream& out,
                 std::ostream& err, progress_display::mode how, int width)
    : chosen(chosen),
      interrupted(interrupted),
      out(out),
      err(err),
      display(err, how, width),
      gate(chosen.max_per_host),
      download_places(chosen.jobs) {}

resolution session::resolve(const std::string& address) {
  lookup_settings lookup = chosen.lookup;
  // A share's folders are listed side by side as far as the host's limit lets them.
  if (chosen.max_per_host > 4) lookup.at_once = static_cast<std::size_t>(std::min(chosen.max_per_host, 16));
  lookup.fetch_page = [&](std::string_view local, const fetch_options& options) {
    return fetch_page_patiently(local, options, chosen.retry, gate);
  };
  return resolve_address(address, lookup);
}

resolution session::complete(resolution r) {
  r = completed(std::move(r));
  if (r.error) ++finished_failed_;
  ++finished_;
  return r;
}

resolution session::completed(resolution r) {
  // The files of a page named for a downloader, without downloading them.
  const bool listed_only = chosen.form == output_form::aria2 || chosen.form == output_form::md5sums ||
                           chosen.check || !chosen.aria2_rpc.empty();
  if (!listed_only && !chosen.download) {
    // A file that cannot be had is the address's error, as a download that failed is.
    for (std::size_t i = 0; i < r.files.size(); ++i) {
      const file_entry& f = r.files[i];
      if (!f.error) continue;
      add_error(r, (f.file_name.empty() ? "file " + std::to_string(i + 1) : one_line(f.file_name)) + ": " + one_line(f.error->message));
      if (!r.failure_kind) r.failure_kind = f.error->kind;
    }
    return r;
  }
  // A page read with an error (an error status, a cut, no download address) is
  // not trusted to feed a downloader. A page whose last file has no address but
  // others have is read well: those are listed, and the last is left out as any
  // file without an address is.
  const auto has_address = [](const file_entry& f) { return !f.download_url.empty(); };
  if (r.error == no_download_address && std::any_of(r.files.begin(), r.files.end(), has_address)) {
    r.error.reset();
    r.failure_kind.reset();
  }
  const bool page_read_well = !r.error;
  if (page_read_well) {
    check_files_for_download(r);
    if (r.error) {
      const auto failed = std::find_if(r.files.begin(), r.files.end(), [](const file_entry& f) { return f.error.has_value(); });
      r.failure_kind = failed != r.files.end() ? failed->error->kind : error_kind::page;
    }
  }
  if (listed_only) {
    // What the entries are made of: nothing from a page read badly, and no file
    // that was left out.
    if (!page_read_well) r.files.clear();
    std::erase_if(r.files, [](const file_entry& f) { return download_address_refusal(f).has_value(); });
    // What the archive holds is not listed, and not handed to aria2 (it says so).
    if (chosen.form == output_form::aria2)
      std::erase_if(r.files, [&](const file_entry& f) { return archived_report(archive, r, f).has_value(); });
    else if (!chosen.aria2_rpc.empty())
      for (file_entry& f : r.files) f.download = archived_report(archive, r, f);
    // The cookies the page fetch received, as a download of each file would send them.
    for (file_entry& f : r.files) f.cookie = cookie_header_for(f.download_url);
  } else if (page_read_well) {
    download_files(r, *this);
  }
  return r;
}

bool session::emit(resolution&& r) {
  // Named in input order, as the --aria2 list names them.
  bool go_on = true;
  if (rpc) go_on = hand_to_aria2(r, *rpc, chosen.output_dir, listed, *name_claims);
  else if (chosen.check) check_files(r, chosen.output_dir, listed, *name_claims, interrupted);
  if (r.error) ++failed_;
  ++done_;
  display.batch(finished_, finished_failed_, total_);
  display.around_output([&] { print(r, chosen, first_, *name_claims, listed, out, err); });
  first_ = false;
  if (!out) write_failed_ = true;
  return !write_failed_ && go_on;
}

void session::tick(std::size_t read, bool all_read) {
  if (all_read) total_ = read;
  display.batch(finished_, finished_failed_, total_);
}

int session::finish(int status) {
  display.finish();
  if (write_failed_) {
    write_line(err, "sharelink: cannot write to standard output");
    return 1;
  }
  return status;
}

}  // namespace sharelink::cli
