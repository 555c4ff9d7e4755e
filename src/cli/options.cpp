#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>
#include <sstream>

#include <CLI/CLI.hpp>
#include <sharelink/version.h>

#include "cli/aria2_rpc.h"
#include "cli/config.h"
#include "cli/process.h"
#include "cli/service_options.h"
#include "cli/report.h"
#include "runtime/fetch_cookies.h"

namespace sharelink::cli {
namespace {

// The longest time-out taken, in milliseconds (about 24 days): more than any
// fetch needs, and still a valid time-out where long has 32 bits.
constexpr double longest_timeout_ms = 2147483647.0;

constexpr const char* description =
    "Prints the direct download address, file name, kind of file, size and MD5\n"
    "text behind the share address of a file on the Kuaichuan or the Pan service,\n"
    "or downloads the file. Without ADDRESS and --page, addresses are read from\n"
    "standard input, one a line.";

constexpr const char* footer =
    "The service is told from the address when --service is not given: a path\n"
    "beginning with /d/ is Kuaichuan, one beginning with /share/ is Pan, and a\n"
    "service of a rule file (--list-services) names its own addresses.\n"
    "\n"
    "Exit status: 0 when every address gave its download address (and, with\n"
    "--download, every file was saved), 1 when any did not, 2 for a usage error,\n"
    "130 when interrupted.\n"
    "\n"
    "Examples:\n"
    "  sharelink --json https://kuai.example.com/d/ABCDEFGHIJKL\n"
    "  sharelink --jobs 8 --aria2 < addresses.txt > list.txt\n"
    "  sharelink --download --output-dir ~/Downloads https://kuai.example.com/d/ABCDEFGHIJKL\n"
    "  sharelink --download --archive ~/shares.sqlite https://kuai.example.com/d/ABCDEFGHIJKL\n"
    "  sharelink --aria2-rpc http://127.0.0.1:6800/jsonrpc https://kuai.example.com/d/ABCDEFGHIJKL";

/// Options as typed, where the text is checked or turned into settings only after
/// parsing (see checked below).
struct typed_options {
  std::string timeout, proxy, cookies, password;
  service_options services;
  bool json = false, aria2 = false, md5sums = false;
  bool no_config = false;
};

// The options table: every option the command takes, with its help text and how it
// combines with the others. An option whose value goes straight into `s` is bound to
// it here; one that needs checking or converting is bound to `typed` and finished in
// `checked`.

// The options that choose what a run does: --list-archive, which goes with none of
// the others, and every one of them (--list-archive among them).
struct mode_options {
  CLI::Option* list_archive = nullptr;
  std::vector<CLI::Option*> all;
};

// What the command does with a page: the output forms, downloads, checks and the
// archive.
mode_options add_output_options(CLI::App& app, settings& s, typed_options& typed) {
  app.set_version_flag("--version", std::string("sharelink ") + SHARELINK_VERSION,
                       "Print the version and exit");
  auto* json = app.add_flag("--json", typed.json, "One JSON object per address and line");
  auto* aria2 = app.add_flag("--aria2", typed.aria2, "An aria2 input file of the download addresses");
  auto* all = app.add_flag("--all", s.every_file, "One labelled block per file the page lists");
  auto* download = app.add_flag("--download", s.download, "Download every file the page lists");
  auto* output_dir = app.add_option("--output-dir", s.output_dir,
                                    "The folder of --download and --check, and aria2's\n"
                                    "with --aria2-rpc (default: the current one)")
                         ->type_name("DIR");
  auto* check = app.add_flag("--check", s.check,
                             "Compare the files in --output-dir with the pages:\n"
                             "missing, size or MD5 differs, or whole");
  auto* md5sums = app.add_flag("--md5sums", typed.md5sums,
                               "Lines for md5sum -c: the pages' MD5s of the files\n"
                               "(content hashes only), paths as --download saves them");
  auto* rpc = app.add_option("--aria2-rpc", s.aria2_rpc,
                             "Hand every file to aria2 over JSON-RPC at this\n"
                             "address (e.g. http://127.0.0.1:6800/jsonrpc)")
                  ->type_name("URL");
  app.add_option("--aria2-secret", s.aria2_secret,
                 "The secret aria2's RPC interface asks for; better kept\n"
                 "in the configuration file, where others cannot read it")
      ->type_name("TOKEN");
  app.add_option("--archive", s.archive,
                 "Note each file saved in this SQLite file, and pass over\n"
                 "the files it holds (--download, --aria2, --aria2-rpc)")
      ->type_name("FILE");
  auto* list_archive = app.add_flag("--list-archive", s.list_archive,
                                    "Print what --archive FILE holds, one file a line\n"
                                    "(tab-separated, or JSON with --json)");
  json->excludes(aria2)->excludes(md5sums);
  all->excludes(json)->excludes(aria2)->excludes(download)->excludes(check)->excludes(md5sums)->excludes(rpc);
  download->excludes(aria2)->excludes(check)->excludes(md5sums)->excludes(rpc);
  check->excludes(aria2)->excludes(md5sums)->excludes(rpc);
  md5sums->excludes(aria2)->excludes(rpc);
  rpc->excludes(aria2);
  for (CLI::Option* other : {aria2, all, download, check, md5sums, rpc, output_dir}) list_archive->excludes(other);
  return {list_archive, {json, aria2, all, download, check, md5sums, rpc, list_archive}};
}

// How pages are fetched: at once, again, politely, through what, as whom.
void add_fetch_options(CLI::App& app, settings& s, typed_options& typed) {
  app.add_option("--jobs", s.jobs, "Resolve up to N addresses at once (default: 4, at most 64)")
      ->type_name("N");
  app.add_option("--retries", s.retry.retries,
                 "Try a page fetch that failed in passing (5xx, 408, 429,\n"
                 "a broken connection) again up to N times (default: 2,\n"
                 "at most 10)")
      ->type_name("N");
  app.add_option("--retry-max-wait", s.retry.most_wait_s,
                 "Wait out a server's Retry-After for up to this long\n"
                 "(default: 120)")
      ->type_name("SECONDS");
  app.add_option("--max-per-host", s.max_per_host,
                 "At most N requests at once to one host (default: no\n"
                 "limit beyond --jobs)")
      ->type_name("N");
  app.add_flag("--explain", s.explain,
               "Tell on standard error what each request asks for and\n"
               "answers, and where each field and value is read");
  app.add_flag("--no-config", typed.no_config, "Read no configuration file");
  app.add_flag("--quiet,-q", s.quiet, "No progress and no error lines (the exit status still tells)");
  app.add_option("--timeout", typed.timeout,
                 "Give up connecting, a transfer that stalls, or a whole\n"
                 "page fetch after this long (default: 15 s to connect,\n"
                 "20 s stalled, 60 s in all)")
      ->type_name("SECONDS");
  app.add_option("--proxy", typed.proxy,
                 "Fetch through this proxy ('' for none; default: from\n"
                 "the environment, on Windows the system's setting)")
      ->type_name("URL");
  app.add_option("--cacert", s.lookup.fetch.ca_file,
                 "Trust the certificate authorities in this PEM file\n"
                 "(default: $CURL_CA_BUNDLE, else $SSL_CERT_FILE;\n"
                 "the Windows build trusts the system's store only)")
      ->type_name("FILE");
  app.add_option("--cookies", typed.cookies,
                 "Send the cookies of this cookies.txt (as a browser's\n"
                 "export add-on or curl writes it) to the share's own\n"
                 "site, for shares that need a login")
      ->type_name("FILE");
  app.add_option("--password", typed.password,
                 "The extraction code of the shares (before one the\n"
                 "address or the pasted share text holds)")
      ->type_name("CODE");
}

void add_options(CLI::App& app, settings& s, typed_options& typed) {
  const mode_options modes = add_output_options(app, s, typed);
  add_fetch_options(app, s, typed);
  auto* page = add_service_options(app, typed.services);
  auto* address = app.add_option("address", s.addresses, "Share addresses")->type_name("ADDRESS");
  page->excludes(address);
  auto* check_rules = app.add_flag("--check-rules", s.check_rules,
                                   "Read each ADDRESS as a rule file, strictly, and run\n"
                                   "the tests it carries (no network)");
  for (CLI::Option* other : modes.all) check_rules->excludes(other);
  check_rules->excludes(page);
  modes.list_archive->excludes(page)->excludes(address);
}

// Whether the command line gave `name` (an option this build may not have yet).
bool given(const CLI::App& app, const std::string& name) {
  const CLI::Option* option = app.get_option_no_throw(name);
  return option != nullptr && option->count() > 0;
}

// What a run does besides printing each page's fields, other than --aria2-rpc.
constexpr const char* modes[] = {"--download", "--aria2", "--all", "--check", "--md5sums", "--list-archive"};

// The configuration file's settings where the command line gave none.
void take_config(const config& c, const CLI::App& app, settings& s) {
  if (c.jobs && !given(app, "--jobs")) s.jobs = *c.jobs;
  if (c.timeout_ms && !given(app, "--timeout")) {
    s.lookup.fetch.connect_timeout_ms = *c.timeout_ms;
    s.lookup.fetch.stall_timeout_ms = *c.timeout_ms;
    s.lookup.fetch.total_timeout_ms = *c.timeout_ms;
  }
  if (c.proxy && !given(app, "--proxy")) s.lookup.fetch.proxy = *c.proxy;
  if (c.output_dir && !given(app, "--output-dir")) s.output_dir = *c.output_dir;
  if (c.cacert && !given(app, "--cacert")) s.lookup.fetch.ca_file = *c.cacert;
  if (c.retries && !given(app, "--retries")) s.retry.retries = *c.retries;
  if (c.max_per_host && !given(app, "--max-per-host")) s.max_per_host = *c.max_per_host;
  if (c.archive && !given(app, "--archive")) s.archive = *c.archive;
  if (c.cookies && !given(app, "--cookies")) s.cookies_file = *c.cookies;
  // The file's aria2 takes the files of every run that asks for nothing else.
  const bool other_mode = std::any_of(std::begin(modes), std::end(modes), [&](const char* m) { return given(app, m); });
  if (c.aria2_rpc && !given(app, "--aria2-rpc") && !other_mode) s.aria2_rpc = *c.aria2_rpc;
  if (c.aria2_secret && !given(app, "--aria2-secret")) s.aria2_secret = *c.aria2_secret;
}

// Finishes `s` from what was typed; the reason when a value is not usable.
std::optional<std::string> checked(const CLI::App& app, const typed_options& typed, settings& s) {
  if (app.count("--timeout") > 0) {
    const std::optional<long> ms = timeout_ms(typed.timeout);
    if (!ms) return "--timeout: " + one_line(typed.timeout) + " is not a number of seconds above 0";
    s.lookup.fetch.connect_timeout_ms = *ms;
    s.lookup.fetch.stall_timeout_ms = *ms;
    s.lookup.fetch.total_timeout_ms = *ms;
  }
  if (app.count("--jobs") > 0 && s.jobs < 1)
    return "--jobs: " + std::to_string(s.jobs) + " is not a number above 0";
  s.jobs = std::min(s.jobs, most_jobs);
  if (s.retry.retries < 0 || (given(app, "--retries") && s.retry.retries > most_retries))
    return "--retries: " + std::to_string(s.retry.retries) + " is not a number from 0 to " +
           std::to_string(most_retries);
  s.retry.retries = std::min(s.retry.retries, most_retries);
  if (s.retry.most_wait_s < 0)
    return "--retry-max-wait: " + std::to_string(s.retry.most_wait_s) + " is not a number of seconds, 0 or more";
  // Longer is as good as for ever, and the sums of waits stay in range.
  s.retry.most_wait_s = std::min(s.retry.most_wait_s, longest_wait_s);
  if (given(app, "--max-per-host") && s.max_per_host < 1)
    return "--max-per-host: " + std::to_string(s.max_per_host) + " is not a number above 0";
  if (app.count("--proxy") > 0) s.lookup.fetch.proxy = typed.proxy;
  if (given(app, "--cookies")) s.cookies_file = typed.cookies;
  if (given(app, "--password")) {
    if (typed.password.empty() || has_control_character(typed.password))
      return "--password: the code is empty or holds a control character";
    s.lookup.password = typed.password;
  }
  if (given(app, "--output-dir") && !s.download && !s.check && s.aria2_rpc.empty())
    return "--output-dir is used with --download, --check or --aria2-rpc";
  if (s.list_archive && s.archive.empty()) return "--list-archive needs --archive FILE";
  if (!s.aria2_rpc.empty())
    if (auto refused = aria2_rpc_address_refusal(s.aria2_rpc)) return refused;
  if (given(app, "--aria2-secret") && s.aria2_rpc.empty()) return "--aria2-secret is used with --aria2-rpc";
  s.form = typed.json      ? output_form::json
           : typed.aria2   ? output_form::aria2
           : typed.md5sums ? output_form::md5sums
                           : output_form::labelled;
  return std::nullopt;
}

// The largest cookies file read: a browser's whole jar is far smaller.
constexpr std::size_t largest_cookies_file = 16 * 1024 * 1024;

}  // namespace

std::optional<std::string> load_cookies(const std::string& path, fetch_options& fetch) {
  bool cut = false;
  std::string reason;
  const std::optional<std::string> text = read_whole_file(path, largest_cookies_file, cut, reason);
  if (!text) return path + ": " + reason;
  if (cut) return path + ": larger than " + std::to_string(largest_cookies_file) + " bytes; not a cookies file";
  auto read = read_cookie_file(*text);
  if (const auto* problem = std::get_if<cookie_file_problem>(&read))
    return path + ":" + std::to_string(problem->line) + ": " + problem->what;
  fetch.user_cookies = std::make_shared<const std::vector<std::string>>(std::move(std::get<0>(read)));
  return std::nullopt;
}

std::optional<long> timeout_ms(const std::string& text) {
  double seconds = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, seconds);
  if (ec != std::errc() || stop != end || !std::isfinite(seconds) || seconds <= 0)
    return std::nullopt;
  return static_cast<long>(std::min(std::ceil(seconds * 1000.0), longest_timeout_ms));
}

std::variant<settings, int> parse_options(const std::vector<std::string>& args,
                                           std::ostream& out, std::ostream& err) {
  CLI::App app{description, "sharelink"};
  app.footer(footer);
  settings s;
  typed_options typed;
  add_options(app, s, typed);
  // CLI11 takes the arguments last first (it pops them off the back of the vector as
  // it reads them), so the list is handed over reversed.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    // The library's message quotes the words it did not take: line by line through
    // the filter, like every other.
    std::ostringstream said;
    const int status = app.exit(e, out, said);
    std::istringstream lines(said.str());
    for (std::string line; std::getline(lines, line);) write_line(err, line);
    return status == 0 ? 0 : 2;
  }
  // Rule files are checked on their own: no configuration, no services installed.
  if (s.check_rules) {
    if (!s.addresses.empty()) return s;
    write_line(err, "--check-rules needs the rule files to check");
    write_line(err, "Run with --help for more information.");
    return 2;
  }
  bool ca_file_asked = given(app, "--cacert");
  std::string warning;
  if (const auto path = typed.no_config ? std::nullopt : default_config_path()) {
    std::string problem;
    const std::optional<config> c = load_config(*path, problem, warning);
    if (!c) {
      write_line(err, problem);
      return 2;
    }
    if (!warning.empty() && !s.quiet) write_line(err, "sharelink: " + warning);
    take_config(*c, app, s);
    ca_file_asked = ca_file_asked || c->cacert.has_value();
  }
  if (ca_file_asked && !fetcher_takes_ca_file && !s.quiet)
    write_line(err, "sharelink: --cacert is not used here: the system's certificate store decides what is trusted");
  if (auto problem = finish_service_options(typed.services, s, err, s.quiet, warning)) {
    write_line(err, problem->what);
    if (problem->usage) write_line(err, "Run with --help for more information.");
    return 2;
  }
  if (typed.services.list) {
    out << service_list(*s.lookup.services);
    return 0;
  }
  if (const std::optional<std::string> problem = checked(app, typed, s)) {
    write_line(err, *problem);
    write_line(err, "Run with --help for more information.");
    return 2;
  }
  if (!s.cookies_file.empty())
    if (const std::optional<std::string> problem = load_cookies(s.cookies_file, s.lookup.fetch)) {
      write_line(err, "sharelink: " + *problem);
      return 2;
    }
  return s;
}

}  // namespace sharelink::cli
