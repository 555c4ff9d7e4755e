#include "cli/cli.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <istream>
#include <optional>
#include <ostream>

#include <CLI/CLI.hpp>

#include "cli/report.h"
#include "cli/service.h"
#include "codec/codepage.h"
#include "resolve/kuaichuan.h"
#include "resolve/pan.h"
#include "runtime/fetch.h"

namespace sharelink::cli {
namespace {

enum class output_form { labelled, json, aria2 };

struct settings {
  std::optional<service> forced_service;
  output_form form = output_form::labelled;
  fetch_options fetch;
  std::optional<std::string> page_file;
  std::vector<std::string> addresses;
};

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

resolved_file parse_page(service s, std::string_view page_text) {
  return s == service::kuaichuan ? parse_kuaichuan_page(page_text) : parse_pan_page(page_text);
}

resolved_file fields_as_utf8(const resolved_file& local) {
  return {local_to_utf8(local.download_url), local_to_utf8(local.file_name),
          local_to_utf8(local.file_type), local_to_utf8(local.size), local_to_utf8(local.md5)};
}

resolution resolve_address(const std::string& address, const settings& s) {
  resolution r;
  r.address = address;
  const std::optional<service> which = s.forced_service ? s.forced_service : service_of_address(address);
  if (!which) {
    r.error = "cannot tell the service from the address (give --service)";
    return r;
  }
  r.service = service_name(*which);
  const fetch_outcome outcome = fetch_page_reporting(utf8_to_local(address), s.fetch);
  // The page is read whatever happened: a transfer cut short still yields what it got.
  r.fields = fields_as_utf8(parse_page(*which, to_text(outcome.body)));
  if (!outcome.fetched) {
    // The reason may quote the address, which the fetcher saw as local text.
    const std::string reason = one_line(local_to_utf8(outcome.error));
    r.error = reason.find_first_not_of(' ') == std::string::npos ? "the page could not be fetched" : reason;
  }
  return r;
}

std::optional<std::string> read_all(std::FILE* file) {
  std::string bytes;
  char buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  if (std::ferror(file)) return std::nullopt;
  return bytes;
}

resolution resolve_saved_page(const std::string& path, service which, std::istream& in) {
  resolution r;
  r.service = service_name(which);
  std::optional<std::string> page;
  errno = 0;
  if (path == "-") {
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    if (!in.bad()) page = std::move(bytes);
  } else if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    page = read_all(file);
    std::fclose(file);
  }
  if (!page) {
    const int error = errno;
    r.error = one_line("cannot read " + path + (error ? std::string(": ") + std::strerror(error) : ""));
    return r;
  }
  r.fields = fields_as_utf8(parse_page(which, to_text(*page)));
  return r;
}

// Prints `r` in the chosen form; the caller checks the stream afterwards.
void print(const resolution& r, output_form form, bool first, std::ostream& out, std::ostream& err) {
  const auto complain = [&](std::string_view reason) {
    err << "sharelink: " << (r.address.empty() ? std::string("(no address)") : one_line(r.address))
        << ": " << reason << '\n';
  };
  if (r.error) complain(*r.error);
  switch (form) {
    case output_form::labelled:
      out << (first ? "" : "\n") << labelled_report(r);
      break;
    case output_form::json:
      out << json_report(r) << '\n';
      break;
    case output_form::aria2:
      if (r.fields.download_url.empty()) {
        if (!r.error) complain("the page holds no download address; left out");
      } else {
        out << aria2_entry(r);
      }
      break;
  }
  out.flush();
  err.flush();
}

// Leading and trailing blanks and tabs, and the CR of a CRLF line end, are no part
// of an address.
std::string trimmed_line(const std::string& line) {
  const auto first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

constexpr const char* description =
    "Prints the direct download address, file name, kind of file, size and MD5\n"
    "text behind the share address of a file on the Kuaichuan or the Pan service.\n"
    "Without ADDRESS and --page, addresses are read from standard input, one a line.";

constexpr const char* footer =
    "The service is told from the address when --service is not given: a path\n"
    "beginning with /d/ is Kuaichuan, one beginning with /share/ is Pan.\n"
    "\n"
    "Exit status: 0 when every page was read, 1 when any could not be read or an\n"
    "address could not be placed, 2 for a usage error.\n"
    "\n"
    "Example:\n"
    "  sharelink --json https://kuai.example.com/d/ABCDEFGHIJKL";

}  // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err) {
  CLI::App app{description, "sharelink"};
  app.footer(footer);
  settings s;
  std::string service_text, timeout_text;
  bool json = false, aria2 = false;
  auto* service_option = app.add_option("--service", service_text, "The service of every address")
                             ->check(CLI::IsMember({"kuaichuan", "pan"}).description(""))
                             ->type_name("kuaichuan|pan");
  auto* json_option = app.add_flag("--json", json, "One JSON object per address and line");
  auto* aria2_option = app.add_flag("--aria2", aria2, "An aria2 input file of the download addresses");
  json_option->excludes(aria2_option);
  app.add_option("--timeout", timeout_text,
                 "Give up connecting, or a transfer that stalls, after\n"
                 "this long (default: 15 s to connect, 20 s stalled)")
      ->type_name("SECONDS");
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
  if (app.count("--timeout") > 0) {
    const std::optional<long> ms = timeout_ms(timeout_text);
    if (!ms) {
      err << "--timeout: " << one_line(timeout_text) << " is not a number of seconds above 0\n"
          << "Run with --help for more information.\n";
      return 2;
    }
    s.fetch.connect_timeout_ms = *ms;
    s.fetch.stall_timeout_ms = *ms;
  }
  if (!service_text.empty()) s.forced_service = service_named(service_text);
  s.form = json ? output_form::json : aria2 ? output_form::aria2 : output_form::labelled;

  bool all_read = true;
  bool first = true;
  const auto emit = [&](const resolution& r) {
    if (r.error) all_read = false;
    print(r, s.form, first, out, err);
    first = false;
    return static_cast<bool>(out);
  };
  const auto write_failed = [&] {
    err << "sharelink: cannot write to standard output\n";
    return 1;
  };

  if (s.page_file) {
    if (!emit(resolve_saved_page(*s.page_file, *s.forced_service, in))) return write_failed();
  } else if (!s.addresses.empty()) {
    for (const std::string& address : s.addresses)
      if (!emit(resolve_address(address, s))) return write_failed();
  } else {
    std::string line;
    bool first_line = true;
    while (std::getline(in, line)) {
      // A byte-order mark some editors put at the start of a UTF-8 file.
      if (first_line && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
      first_line = false;
      const std::string address = trimmed_line(line);
      if (address.empty()) continue;
      if (!emit(resolve_address(address, s))) return write_failed();
    }
  }
  return all_read ? 0 : 1;
}

}  // namespace sharelink::cli
