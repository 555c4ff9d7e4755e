#include "cli/check.h"

#include "cli/downloads.h"
#include "codec/ascii_case.h"
#include "download/files.h"
#include "download/md5.h"

namespace sharelink::cli {
namespace {

// The MD5 of the file at `path`; nothing when it cannot be read whole (or the run
// was interrupted), `problem` then saying why.
std::optional<std::string> file_md5(const std::string& path, const std::atomic<bool>& cancel, std::string& problem) {
  file_handle file;
  if (!file.open_read(path)) {
    problem = "cannot read it: " + file.error();
    return std::nullopt;
  }
  md5 hash;
  std::string buffer(1u << 20, '\0');
  for (;;) {
    if (cancel.load()) {
      problem = "interrupted";
      return std::nullopt;
    }
    const std::ptrdiff_t n = file.read(buffer.data(), buffer.size());
    if (n < 0) {
      problem = "cannot read it: " + file.error();
      return std::nullopt;
    }
    if (n == 0) return md5::to_hex(hash.finish());
    hash.update(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
}

std::string bytes_text(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

}  // namespace

void check_files(resolution& r, const std::string& output_dir, aria2_listing& listed, name_claims& names,
                 const std::atomic<bool>& cancel) {
  const std::vector<std::string> owners = file_owners(r);
  for (std::size_t i = 0; i < r.files.size(); ++i) {
    file_entry& f = r.files[i];
    const std::optional<std::string> name = listed_path(f, owners[i], listed, names);
    if (!name) continue;  // the same file, its address given twice: checked once
    check_report c;
    c.path = join_path(output_dir, *name);
    const path_status there = stat_path(c.path);
    std::string problem;
    error_kind kind = error_kind::download;  // of a file that is not whole
    if (there.kind != path_kind::file) {
      c.result = "missing";
    } else {
      c.bytes = there.size;
      const std::string wanted_md5 = r.md5_is_content_hash && is_md5_hex(f.md5) ? ascii_lower(f.md5) : "";
      if (f.size_bytes && *f.size_bytes != there.size) {
        c.result = "size differs";
        problem = bytes_text(there.size) + ", the page states " + std::to_string(*f.size_bytes);
      } else if (!wanted_md5.empty()) {
        const std::optional<std::string> got = file_md5(c.path, cancel, problem);
        if (got) c.md5 = *got;
        c.result = !got ? "unreadable" : *got == wanted_md5 ? "whole" : "MD5 differs";
        if (got && *got != wanted_md5) {
          problem = "the file's is " + *got + ", the page states " + wanted_md5;
          kind = error_kind::checksum;
        } else if (!got && cancel.load()) {
          kind = error_kind::interrupted;
        }
      } else {
        c.result = "whole";
      }
    }
    if (c.result != "whole") {
      add_error(r, one_line(c.path) + ": " + c.result + (problem.empty() ? "" : " (" + problem + ")"));
      if (!r.failure_kind) r.failure_kind = kind;
    }
    f.check = std::move(c);
  }
}

std::string check_line(const file_entry& f) {
  if (!f.check) return {};
  const check_report& c = *f.check;
  std::string line = c.result + ": " + one_line(c.path);
  if (c.result == "whole") line += " (" + bytes_text(c.bytes.value_or(0)) + (c.md5.empty() ? "" : ", MD5 matched") + ")";
  else if (c.result == "size differs") line += " (" + bytes_text(c.bytes.value_or(0)) + ", the page states " +
                                               std::to_string(f.size_bytes.value_or(0)) + ")";
  else if (c.result == "MD5 differs") line += " (the file's is " + c.md5 + ", the page states " + ascii_lower(f.md5) + ")";
  return line + "\n";
}

std::string md5sum_lines(const resolution& r, aria2_listing& listed, name_claims& names) {
  const std::vector<std::string> owners = file_owners(r);
  std::string lines;
  for (std::size_t i = 0; i < r.files.size(); ++i) {
    // Every file takes its name, so that the numbering is that of --download.
    const std::optional<std::string> name = listed_path(r.files[i], owners[i], listed, names);
    if (name && r.md5_is_content_hash && is_md5_hex(r.files[i].md5))
      lines += ascii_lower(r.files[i].md5) + "  " + *name + "\n";
  }
  return lines;
}

}  // namespace sharelink::cli
