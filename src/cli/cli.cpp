#include "cli/cli.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <istream>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>

#include <CLI/CLI.hpp>
#include <sharelink/version.h>

#include "cli/batch.h"
#include "cli/lookup.h"
#include "cli/process.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/service.h"
#include "codec/codepage.h"
#include "download/download.h"
#include "runtime/fetch.h"

namespace sharelink::cli {
namespace {

enum class output_form { labelled, json, aria2 };

struct settings {
  lookup_settings lookup;
  output_form form = output_form::labelled;
  bool every_file = false;  ///< --all
  bool download = false;
  bool quiet = false;
  int jobs = 4;
  std::string output_dir;
  std::optional<std::string> page_file;
  std::vector<std::string> addresses;
};

// Set by Ctrl+C; every fetch watches it.
std::atomic<bool> interrupted{false};

constexpr int most_jobs = 64;

// The longest time-out taken, in milliseconds (about 24 days): more than any
// fetch needs, and still a valid time-out where long has 32 bits.
constexpr double longest_timeout_ms = 2147483647.0;

// Seconds as decimal text ("20", "0.5", "1e1") to whole milliseconds, rounded up so
// that a tiny positive time-out does not become "no time-out". Nothing for text
// that is not a finite number above zero. Independent of the process locale.
std::optional<long> timeout_ms(const std::string& text) {
  double seconds = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, seconds);
  if (ec != std::errc() || stop != end || !std::isfinite(seconds) || seconds <= 0)
    return std::nullopt;
  return static_cast<long>(std::min(std::ceil(seconds * 1000.0), longest_timeout_ms));
}

// Leading and trailing blanks and tabs, and the CR of a CRLF line end, are no part
// of an address.
std::string trimmed_line(const std::string& line) {
  const auto first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

// The longest line of standard input taken as an address: far beyond any address,
// and it keeps a stream without line ends (a device, a binary file) from filling
// the memory.
constexpr std::size_t longest_input_line = 1024 * 1024;

/// How reading standard input ended, once it did; set by the thread that reads it.
struct input_end {
  std::mutex mutex;
  std::optional<std::string> failure;  ///< why the input could not be read to its end
};

// The next line of `in` without its line end into `line`: false at the end of the
// input, or when it cannot be read (then `failure` says why).
bool next_input_line(std::istream& in, std::string& line, input_end& end) {
  line.clear();
  std::streambuf* buffer = in.rdbuf();
  const auto fail = [&](std::string reason) {
    std::lock_guard lock(end.mutex);
    end.failure = std::move(reason);
    return false;
  };
  try {
    for (;;) {
      const int c = buffer->sbumpc();
      if (c == std::char_traits<char>::eof()) return !line.empty();
      if (c == '\n') return true;
      if (line.size() == longest_input_line)
        return fail("a line is longer than " + std::to_string(longest_input_line) + " bytes");
      line.push_back(static_cast<char>(c));
    }
  } catch (const std::ios_base::failure& e) {
    return fail(e.code() ? e.code().message() : std::string("read error"));
  } catch (const std::exception&) {
    return fail("read error");
  }
}

void add_error(resolution& r, const std::string& reason) {
  r.error = r.error ? *r.error + "; " + reason : reason;
}

// A page's file name goes into error lines: kept to one line without control
// characters, so that it cannot split the line or steer the terminal.
std::string file_label(const file_entry& f, std::size_t index) {
  return f.file_name.empty() ? "file " + std::to_string(index + 1) : one_line(f.file_name);
}

// The files of a page that was read well, checked for a downloader: a page that
// lists none, or a file whose address is not http or https, is an error.
void check_files_for_download(resolution& r) {
  if (r.files.empty()) {
    add_error(r, "the page lists no file record");
    return;
  }
  for (std::size_t i = 0; i < r.files.size(); ++i)
    if (auto refused = download_address_refusal(r.files[i]))
      add_error(r, file_label(r.files[i], i) + ": " + *refused + "; left out");
}

void download_files(resolution& r, const settings& s, progress_display& display) {
  for (std::size_t i = 0; i < r.files.size(); ++i) {
    file_entry& f = r.files[i];
    if (download_address_refusal(f)) continue;
    if (interrupted.load()) {
      add_error(r, "interrupted");
      return;
    }
    download_job job;
    job.url = f.local_download_url;
    job.referer = utf8_to_local(r.address);
    job.file_name = f.file_name;
    job.fallback_name = f.download_url;
    job.expected_size = f.size_bytes;
    // Only a Pan record's own md5 key is a hash of the content.
    if (r.service == "pan" && is_md5_hex(f.md5)) job.expected_md5 = f.md5;
    job.output_dir = s.output_dir;
    job.fetch = s.lookup.fetch;
    // A large file takes as long as it takes; the stall limit still applies.
    job.fetch.total_timeout_ms = 0;

    const int id = display.download_begun();
    const download_result got = download_file(job, [&](const download_progress& p) {
      display.download_moved(id, p.name, p.bytes, p.total);
    });
    download_report report{got.path, got.bytes, got.md5_checked, std::nullopt, got.already_present};
    if (got.error) report.error = one_line(*got.error);
    display.download_ended(id, f.file_name, report);
    if (report.error) add_error(r, file_label(f, i) + ": " + *report.error);
    f.download = std::move(report);
  }
}

std::string download_line(const file_entry& f, std::size_t index) {
  const download_report& d = *f.download;
  if (d.error) return "failed: " + one_line(file_label(f, index)) + ": " + one_line(*d.error) + "\n";
  std::string line = (d.already_present ? "already there: " : "saved: ") + one_line(d.path) + " (" +
                     std::to_string(d.bytes) + (d.bytes == 1 ? " byte" : " bytes");
  if (d.md5_checked) line += *d.md5_checked ? ", MD5 matched" : ", MD5 differs";
  return line + ")\n";
}

// Prints `r` in the chosen form; the caller checks the stream afterwards.
void print(const resolution& r, const settings& s, bool first, std::ostream& out, std::ostream& err) {
  if (r.error && !s.quiet)
    err << "sharelink: " << (r.address.empty() ? std::string("(no address)") : one_line(r.address))
        << ": " << *r.error << '\n';
  switch (s.form) {
    case output_form::labelled:
      if (s.download) {
        for (std::size_t i = 0; i < r.files.size(); ++i)
          if (r.files[i].download) out << download_line(r.files[i], i);
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
    case output_form::aria2:
      for (const file_entry& f : r.files) out << aria2_entry(f, r.service == "pan");
      break;
  }
  out.flush();
  err.flush();
}

constexpr const char* description =
    "Prints the direct download address, file name, kind of file, size and MD5\n"
    "text behind the share address of a file on the Kuaichuan or the Pan service,\n"
    "or downloads the file. Without ADDRESS and --page, addresses are read from\n"
    "standard input, one a line.";

constexpr const char* footer =
    "The service is told from the address when --service is not given: a path\n"
    "beginning with /d/ is Kuaichuan, one beginning with /share/ is Pan.\n"
    "\n"
    "Exit status: 0 when every address gave its download address (and, with\n"
    "--download, every file was saved), 1 when any did not, 2 for a usage error,\n"
    "130 when interrupted.\n"
    "\n"
    "Examples:\n"
    "  sharelink --json https://kuai.example.com/d/ABCDEFGHIJKL\n"
    "  sharelink --jobs 8 --aria2 < addresses.txt > list.txt\n"
    "  sharelink --download --output-dir ~/Downloads https://kuai.example.com/d/ABCDEFGHIJKL";

}  // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err) {
  CLI::App app{description, "sharelink"};
  app.footer(footer);
  app.set_version_flag("--version", std::string("sharelink ") + SHARELINK_VERSION,
                       "Print the version and exit");
  settings s;
  std::string service_text, timeout_text, proxy_text;
  bool json = false, aria2 = false;
  auto* service_option = app.add_option("--service", service_text, "The service of every address")
                             ->check(CLI::IsMember({"kuaichuan", "pan"}).description(""))
                             ->type_name("kuaichuan|pan");
  auto* json_option = app.add_flag("--json", json, "One JSON object per address and line");
  auto* aria2_option = app.add_flag("--aria2", aria2, "An aria2 input file of the download addresses");
  auto* all_option = app.add_flag("--all", s.every_file, "One labelled block per file the page lists");
  auto* download_option = app.add_flag("--download", s.download,
                                       "Download every file the page lists");
  auto* output_dir_option = app.add_option("--output-dir", s.output_dir,
                                           "The folder downloads go to (default: the current one)")
                                ->type_name("DIR");
  json_option->excludes(aria2_option);
  all_option->excludes(json_option)->excludes(aria2_option)->excludes(download_option);
  download_option->excludes(aria2_option);
  output_dir_option->needs(download_option);
  app.add_option("--jobs", s.jobs,
                 "Resolve up to N addresses at once (default: 4, at most 64)")
      ->type_name("N");
  app.add_flag("--quiet,-q", s.quiet, "No progress and no error lines (the exit status still tells)");
  app.add_option("--timeout", timeout_text,
                 "Give up connecting, a transfer that stalls, or a whole\n"
                 "page fetch after this long (default: 15 s to connect,\n"
                 "20 s stalled, 60 s in all)")
      ->type_name("SECONDS");
  app.add_option("--proxy", proxy_text,
                 "Fetch through this proxy ('' for none; default: from\n"
                 "the environment, on Windows the system's setting)")
      ->type_name("URL");
  auto* page_option = app.add_option("--page", s.page_file,
                                     "Read the share page from FILE (- for standard input)\n"
                                     "instead of fetching it; needs --service")
                          ->type_name("FILE");
  auto* address_option = app.add_option("address", s.addresses, "Share addresses")->type_name("ADDRESS");
  page_option->needs(service_option);
  page_option->excludes(address_option);

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? 0 : 2;
  }
  const auto usage_error = [&](const std::string& message) {
    err << message << "\nRun with --help for more information.\n";
    return 2;
  };
  if (app.count("--timeout") > 0) {
    const std::optional<long> ms = timeout_ms(timeout_text);
    if (!ms) return usage_error("--timeout: " + one_line(timeout_text) + " is not a number of seconds above 0");
    s.lookup.fetch.connect_timeout_ms = *ms;
    s.lookup.fetch.stall_timeout_ms = *ms;
    s.lookup.fetch.total_timeout_ms = *ms;
  }
  if (app.count("--jobs") > 0 && s.jobs < 1)
    return usage_error("--jobs: " + std::to_string(s.jobs) + " is not a number above 0");
  s.jobs = std::min(s.jobs, most_jobs);
  if (app.count("--proxy") > 0) s.lookup.fetch.proxy = proxy_text;
  if (!service_text.empty()) s.lookup.forced_service = service_named(service_text);
  s.form = json ? output_form::json : aria2 ? output_form::aria2 : output_form::labelled;
  static const bool interrupts_caught = (catch_interrupts(interrupted), true);
  (void)interrupts_caught;
  s.lookup.fetch.cancel = &interrupted;

  // A user typing addresses at the terminal sees each answer as it comes; a line
  // redrawn in place would run into what they type.
  const bool typed = s.addresses.empty() && !s.page_file && standard_input_is_terminal();
  const progress_display::mode display_mode =
      s.quiet ? progress_display::mode::silent
              : standard_error_is_terminal() && !typed ? progress_display::mode::live
                                                       : progress_display::mode::lines;
  progress_display display(err, display_mode, standard_error_width());

  // What happens to each address on a worker thread, beyond reading its page.
  const auto complete = [&](resolution r) {
    if (s.form != output_form::aria2 && !s.download) return r;
    // A page read with an error (an error status, a cut, no download address) is
    // not trusted to feed a downloader.
    const bool page_read_well = !r.error;
    if (page_read_well) check_files_for_download(r);
    if (s.form == output_form::aria2) {
      // What the entries are made of: nothing from a page read badly, and no file
      // that was left out.
      if (!page_read_well) r.files.clear();
      std::erase_if(r.files, [](const file_entry& f) { return download_address_refusal(f).has_value(); });
    } else if (page_read_well) {
      download_files(r, s, display);
    }
    return r;
  };

  std::optional<std::size_t> total;  ///< the number of addresses, once known
  bool all_read = true;
  bool first = true;
  bool write_failed = false;
  std::size_t done = 0, failed = 0;
  const auto emit = [&](resolution&& r) {
    if (r.error) {
      all_read = false;
      ++failed;
    }
    ++done;
    display.batch(done, failed, total);
    display.around_output([&] { print(r, s, first, out, err); });
    first = false;
    if (!out) write_failed = true;
    return !write_failed;
  };
  const auto finish = [&](int status) {
    display.finish();
    if (write_failed) {
      err << "sharelink: cannot write to standard output\n";
      return 1;
    }
    return status;
  };

  if (s.page_file) {
    // A saved page is held to the size a fetched one is (a device or an endless pipe
    // would otherwise fill the memory).
    const std::size_t most = s.lookup.fetch.body_cap;
    std::optional<std::string> page;
    std::string reason;
    bool cut = false;
    if (*s.page_file == "-") {
      std::string bytes;
      char buffer[65536];
      while (bytes.size() <= most && in.read(buffer, sizeof buffer).gcount() > 0)
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
      cut = bytes.size() > most;
      if (cut) bytes.resize(most);
      if (!in.bad()) page = std::move(bytes);
      else reason = "read error";
    } else {
      page = read_whole_file(*s.page_file, most, cut, reason);
    }
    if (!page) {
      // Nothing was read, so there is nothing to print but the reason.
      if (!s.quiet) err << "sharelink: " << one_line("cannot read " + *s.page_file + ": " + reason) << '\n';
      return finish(1);
    }
    resolution r = resolve_saved_page(*page, *s.lookup.forced_service);
    if (cut) {
      // Read as far as it goes, like a fetched page cut at the same size.
      r.error = "the page is larger than " + std::to_string(most) + " bytes; stopped there";
    }
    emit(complete(std::move(r)));
    return finish(all_read ? 0 : 1);
  }

  batch_hooks hooks;
  // Shared with the reader, which may outlive this call while it waits for input.
  const auto input = std::make_shared<input_end>();
  // Addresses are read on a thread of their own, and a tied stream would flush the
  // output from there while this thread writes it.
  in.tie(nullptr);
  if (!s.addresses.empty()) {
    total = s.addresses.size();
    hooks.next = [list = s.addresses, at = std::size_t{0}]() mutable -> std::optional<std::string> {
      if (at == list.size()) return std::nullopt;
      return list[at++];
    };
  } else {
    if (!s.quiet && standard_input_is_terminal())
      err << "sharelink: reading addresses from standard input, one a line, until end of input\n";
    hooks.next = [&in, input, first_line = true]() mutable -> std::optional<std::string> {
      std::string line;
      while (next_input_line(in, line, *input)) {
        // A byte-order mark some editors put at the start of a UTF-8 file.
        if (first_line && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        first_line = false;
        std::string address = trimmed_line(line);
        if (!address.empty()) return address;
      }
      return std::nullopt;
    };
  }
  hooks.work = [&](const std::string& address) { return complete(resolve_address(address, s.lookup)); };
  hooks.emit = emit;
  hooks.tick = [&](std::size_t read, bool all_in) {
    if (all_in) total = read;
    display.batch(done, failed, total);
  };
  // No more workers than there are addresses, when that is known: a single address
  // starts one fetching thread, not four.
  const int workers = s.addresses.empty()
                          ? s.jobs
                          : static_cast<int>(std::min<std::size_t>(s.addresses.size(), static_cast<std::size_t>(s.jobs)));
  const batch_end end = run_batch(workers, interrupted, std::move(hooks));
  if (end == batch_end::interrupted) {
    const int status = finish(130);
    if (!s.quiet) err << "sharelink: interrupted\n";
    return status;
  }
  if (end == batch_end::finished) {
    std::lock_guard lock(input->mutex);
    // Input that ends in an error is not a list read to its end.
    if (input->failure) {
      const int status = finish(1);
      if (!s.quiet) err << "sharelink: cannot read standard input: " << one_line(*input->failure) << '\n';
      return status;
    }
  }
  return finish(all_read ? 0 : 1);
}

}  // namespace sharelink::cli
