// Time for one per-file reading of a share page, against the window's parse of
// the same page in the same process (counter x_parse: reading time / parse time;
// the reading includes a parse, so 1 is its floor). Ordinary pages of about 1 MB,
// then pages built to be hard for the markup and data-object scanners or for the
// patterns, up to the fetcher's 8 MiB body cap. Each hostile page runs once.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "pages.h"
#include "testing/reference/kuaichuan.h"
#include "testing/reference/pan.h"
#include "testing/reference/file_records.h"

namespace {

using sharelink::bench::cap;
using sharelink::bench::one_mb;
using sharelink::bench::repeated;

struct page_case {
  const char* name;
  bool pan;
  std::function<std::string()> build;
  bool once = true;
};

const std::string q = "\\\"";  // a quote as the Pan page escapes it

const std::vector<page_case>& cases() {
  static const std::vector<page_case> all = {
      // Ordinary listings.
      {"KuaichuanListing1MB", false, sharelink::bench::kuaichuan_listing_1mb, false},
      {"PanListing1MB", true, sharelink::bench::pan_listing_1mb, false},

      // The window parse's hostile pages, read per file.
      {"KuaichuanOpenMarkersClosedAtEnd", false,
       [] { return repeated("", "file_url=\"x key\" value='x first_file_size\" value='", cap, "\" file_size= '> \""); }},
      {"KuaichuanNearMisses", false,
       [] {
         return repeated("file_url=\"file_name=\"key\" value='first_file_size\" value='", "\" file_siz' >'", cap,
                         "\" file_size= '>");
       }},
      {"KuaichuanTinyMatches", false,
       [] {
         return repeated("", "file_url=\"\" file_size=file_name=\"\"key\" value=''>first_file_size\" value='1'>", cap);
       }},
      {"PanTinyMatches", true,
       [] { return repeated("", "dlink\\\":\\\"\\\"}filename=\\\"size\\\":\\\"1\\\"md5\\\":\\\"\\\"", cap); }},
      {"PanOpenKeysClosedAtEnd", true,
       [] { return repeated("", "dlink\\\":\\\"x size\\\":\\\"x md5\\\":\\\"x filename=x ", cap, "\\\"}"); }},
      {"PanLongFileName", true, [] { return repeated("filename=", "a", cap, "\\\""); }},
      {"PanBackslashRun", true,
       [] {
         return "dlink\\\":\\\"" + std::string(4u << 20, '\\') + "x\\\"}" + "size\\\":\\\"" +
                std::string(4u << 20, '\\') + "x\\\"";
       }},
      {"PanShortBackslashRuns", true,
       [] { return repeated("dlink\\\":\\\"size\\\":\\\"md5\\\":\\\"filename=", std::string(64, '\\') + "x", cap, "\\\"}"); }},
      {"PanEscapedSlashes", true, [] { return repeated("dlink\\\":\\\"http:\\\\/\\\\/", "\\\\\\\\/", cap, "\\\"}"); }},

      // As many files as the cap holds.
      {"KuaichuanTinyElements", false, [] { return repeated("", "<a file_url=u>", cap); }},
      {"PanTinyObjects", true, [] { return repeated("", "{" + q + "dlink" + q + ":" + q + q + "}", cap); }},
      // One address of 8 MiB of references, each outside ASCII and apart from the next.
      {"KuaichuanReferencesInAddress", false,
       [] { return repeated("<a file_url=\"", "&#x4e2d;a&amp;", cap, "\" file_size=\"1\">"); }},
      // Markup that never closes: tags, quoted values, comments, scripts.
      {"KuaichuanOpenTags", false, [] { return repeated("", "<a <b file_url=x ", cap); }},
      {"KuaichuanScriptNearMisses", false, [] { return repeated("<script>", "</scrip</scriptx", cap); }},
      {"KuaichuanManyAttributes", false, [] { return repeated("<a ", "x=1 ", cap, "file_url=u>"); }},
      // Data objects nested far beyond what is read, and keys without values.
      {"PanDeepNesting", true, [] { return repeated("", "{[", cap / 2) + repeated("", "]}", cap / 2); }},
      {"PanKeysWithoutValues", true, [] { return repeated("{", q + "dlink" + q + ":", cap, "}"); }},
      {"PanFileNameMarkers", true, [] { return repeated("{" + q + "dlink" + q + ":" + q, "filename=", cap, q + "}"); }},
  };
  return all;
}

void run_case(benchmark::State& state, const page_case& page_case) {
  using clock = std::chrono::steady_clock;
  const std::string page = page_case.build();
  const auto reference_start = clock::now();
  benchmark::DoNotOptimize(page_case.pan ? sharelink::parse_pan_page(page) : sharelink::parse_kuaichuan_page(page));
  const std::chrono::duration<double> reference = clock::now() - reference_start;

  std::chrono::duration<double> reading{};
  std::size_t files = 0;
  for (auto _ : state) {
    const auto start = clock::now();
    const sharelink::page_reading read =
        page_case.pan ? sharelink::read_pan_page(page) : sharelink::read_kuaichuan_page(page);
    reading += clock::now() - start;
    files = read.files.size();
    benchmark::DoNotOptimize(read);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
  state.counters["files"] = static_cast<double>(files);
  state.counters["parse_ms"] = reference.count() * 1000;
  state.counters["x_parse"] = reading.count() / static_cast<double>(state.iterations()) / reference.count();
}

const bool registered = [] {
  for (const page_case& page_case : cases()) {
    auto* bench = benchmark::RegisterBenchmark((std::string("BM_Read") + page_case.name).c_str(), run_case, page_case);
    bench->Unit(benchmark::kMillisecond);
    if (page_case.once) bench->Iterations(1);
  }
  return true;
}();

}  // namespace
