// Time for one parse of a share page: ordinary pages of about 1 MB, and pages
// built to make the patterns backtrack, up to the fetcher's 8 MiB body cap.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "pages.h"
#include "testing/reference/kuaichuan.h"
#include "testing/reference/pan.h"

namespace {

using sharelink::bench::cap;
using sharelink::bench::one_mb;
using sharelink::bench::repeated;

// About 1 MB of listing markup, each entry carrying all four markers.
std::string kuaichuan_listing() {
  return repeated("<html><body><ul>\n",
                  "<li><a class=\"file_name\" href=\"javascript:;\" "
                  "file_url=\"http://dl.kc.example/d/AbC123/%E4%B8%AD%E6%96%87.rar?t=1350000000\" "
                  "file_size=\"1048576\" file_name=\"%E4%B8%AD%E6%96%87%E6%8A%A5%E5%91%8A.rar\">x</a>"
                  "<div class=\"meta\" style=\"display:none\">uploaded 2012-10-12, 3 downloads</div></li>\n",
                  one_mb,
                  "</ul><input id=\"first_file_size\" value='1048576'>"
                  "<input id=\"key\" value='8f14e45fceea167a5a36dedd4b4c7d2b'></body></html>");
}

// About 1 MB of script holding the escaped data object of many files.
std::string pan_listing() {
  return repeated("<script>yunData.setData(JSON.parse(\"{\\\"list\\\":[",
                  "{\\\"fs_id\\\":\\\"881235566\\\",\\\"server_filename\\\":\\\"report.rar\\\","
                  "\\\"size\\\":\\\"1536\\\",\\\"md5\\\":\\\"e10adc3949ba59abbe56e057f20f883e\\\","
                  "\\\"dlink\\\":\\\"http:\\\\/\\\\/d.pan.example\\\\/file\\\\/e10adc39?fid=881235566"
                  "&filename=%E4%B8%AD%E6%96%87.rar\\\"},",
                  one_mb, "]}\"));</script>");
}

template <typename Parse>
void run(benchmark::State& state, const std::string& page, Parse parse) {
  for (auto _ : state) benchmark::DoNotOptimize(parse(page));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}

// Each listing page is made once and shared by the parse and its reference.
const std::string& kuaichuan_page() {
  static const std::string page = kuaichuan_listing();
  return page;
}

const std::string& pan_page() {
  static const std::string page = pan_listing();
  return page;
}

void BM_KuaichuanListing1MB(benchmark::State& state) {
  run(state, kuaichuan_page(), sharelink::parse_kuaichuan_page);
}
BENCHMARK(BM_KuaichuanListing1MB)->Unit(benchmark::kMillisecond);

void BM_PanListing1MB(benchmark::State& state) {
  run(state, pan_page(), sharelink::parse_pan_page);
}
BENCHMARK(BM_PanListing1MB)->Unit(benchmark::kMillisecond);

// The reference for the two parses above: four memmem scans of the same page,
// one per marker, each reading the whole page (the needle is the marker's
// beginning followed by a byte no page holds). bench/compare prints the ratio.
template <std::size_t N>
std::size_t four_scans(const std::string& page, const char* const (&markers)[N]) {
  static_assert(N == 4);
  std::size_t found = 0;
  for (const char* marker : markers) {
    const std::string needle = std::string(marker) + '\x01';
    found += memmem(page.data(), page.size(), needle.data(), needle.size()) != nullptr;
  }
  return found;
}

void BM_KuaichuanListing1MBFourScans(benchmark::State& state) {
  static const char* const markers[] = {"file_url=\"", "file_name=\"", "first_file_size\" value='",
                                        "key\" value='"};
  run(state, kuaichuan_page(), [](const std::string& page) { return four_scans(page, markers); });
}
BENCHMARK(BM_KuaichuanListing1MBFourScans)->Unit(benchmark::kMillisecond);

void BM_PanListing1MBFourScans(benchmark::State& state) {
  static const char* const markers[] = {"dlink\\", "filename=", "size\\", "md5\\"};
  run(state, pan_page(), [](const std::string& page) { return four_scans(page, markers); });
}
BENCHMARK(BM_PanListing1MBFourScans)->Unit(benchmark::kMillisecond);

// Hostile pages, 8 MiB each (one iteration: some take seconds).

// Markers that never close, then one closing text at the very end.
void BM_KuaichuanOpenMarkersClosedAtEnd(benchmark::State& state) {
  run(state, repeated("", "file_url=\"x key\" value='x first_file_size\" value='", cap,
                      "\" file_size= '> \""),
      sharelink::parse_kuaichuan_page);
}
BENCHMARK(BM_KuaichuanOpenMarkersClosedAtEnd)->Unit(benchmark::kMillisecond)->Iterations(1);

// Markers that never close and no closing text at all.
void BM_KuaichuanOpenMarkersNeverClosed(benchmark::State& state) {
  run(state, repeated("", "file_url=\"x file_name=x key\" value='x ", cap), sharelink::parse_kuaichuan_page);
}
BENCHMARK(BM_KuaichuanOpenMarkersNeverClosed)->Unit(benchmark::kMillisecond)->Iterations(1);

// Near misses of every closing text after one opened marker.
void BM_KuaichuanNearMisses(benchmark::State& state) {
  run(state, repeated("file_url=\"file_name=\"key\" value='first_file_size\" value='",
                      "\" file_siz' >'", cap, "\" file_size= '>"),
      sharelink::parse_kuaichuan_page);
}
BENCHMARK(BM_KuaichuanNearMisses)->Unit(benchmark::kMillisecond)->Iterations(1);

// Hundreds of thousands of tiny matches of every marker.
void BM_KuaichuanTinyMatches(benchmark::State& state) {
  run(state, repeated("", "file_url=\"\" file_size=file_name=\"\"key\" value=''>first_file_size\" value='1'>", cap),
      sharelink::parse_kuaichuan_page);
}
BENCHMARK(BM_KuaichuanTinyMatches)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_PanTinyMatches(benchmark::State& state) {
  run(state, repeated("", "dlink\\\":\\\"\\\"}filename=\\\"size\\\":\\\"1\\\"md5\\\":\\\"\\\"", cap),
      sharelink::parse_pan_page);
}
BENCHMARK(BM_PanTinyMatches)->Unit(benchmark::kMillisecond)->Iterations(1);

// Keys that open a value and never close it, then one closing text at the end.
void BM_PanOpenKeysClosedAtEnd(benchmark::State& state) {
  run(state, repeated("", "dlink\\\":\\\"x size\\\":\\\"x md5\\\":\\\"x filename=x ", cap, "\\\"}"),
      sharelink::parse_pan_page);
}
BENCHMARK(BM_PanOpenKeysClosedAtEnd)->Unit(benchmark::kMillisecond)->Iterations(1);

// Many dlink keys and a closing brace that no backslash precedes.
void BM_PanDlinksWithUnescapedClose(benchmark::State& state) {
  run(state, repeated("", "dlink\\\":\\\"", cap, "\"}"), sharelink::parse_pan_page);
}
BENCHMARK(BM_PanDlinksWithUnescapedClose)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same with filler between the keys.
void BM_PanSpacedDlinksWithUnescapedClose(benchmark::State& state) {
  run(state, repeated("", "dlink\\\":\\\"" + std::string(state.range(0), 'a'), cap, "\"}"),
      sharelink::parse_pan_page);
}
BENCHMARK(BM_PanSpacedDlinksWithUnescapedClose)->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Arg(100)->Arg(10000)->Arg(1000000);

// filename= followed by megabytes without a quote, closed at the very end.
void BM_PanLongFileName(benchmark::State& state) {
  run(state, repeated("filename=", "a", cap, "\\\""), sharelink::parse_pan_page);
}
BENCHMARK(BM_PanLongFileName)->Unit(benchmark::kMillisecond)->Iterations(1);

// One long run of backslashes between a key and its closing text that does not
// end in a quote: every position of the run retries the closing \\+".
void BM_PanBackslashRun(benchmark::State& state) {
  const std::size_t run_length = static_cast<std::size_t>(state.range(0));
  run(state,
      "dlink\\\":\\\"" + std::string(run_length, '\\') + "x\\\"}" + "size\\\":\\\"" +
          std::string(run_length, '\\') + "x\\\"",
      sharelink::parse_pan_page);
}
BENCHMARK(BM_PanBackslashRun)->Unit(benchmark::kMillisecond)->Iterations(1)
    ->Arg(1 << 12)->Arg(1 << 14)->Arg(1 << 16)->Arg(1 << 18)->Arg(1 << 20)->Arg(4 << 20);

// Many short backslash runs: quadratic inside each run only.
void BM_PanShortBackslashRuns(benchmark::State& state) {
  run(state, repeated("dlink\\\":\\\"size\\\":\\\"md5\\\":\\\"filename=", std::string(64, '\\') + "x", cap,
                      "\\\"}"),
      sharelink::parse_pan_page);
}
BENCHMARK(BM_PanShortBackslashRuns)->Unit(benchmark::kMillisecond)->Iterations(1);

// A download link made of nothing but escaped slashes, nested four deep: the
// unescaping must not search the address again from its start after each one.
void BM_PanEscapedSlashes(benchmark::State& state) {
  run(state, repeated("dlink\\\":\\\"http:\\\\/\\\\/", "\\\\\\\\/", cap, "\\\"}"),
      sharelink::parse_pan_page);
}
BENCHMARK(BM_PanEscapedSlashes)->Unit(benchmark::kMillisecond)->Iterations(1);

// Backslashes followed by a long run of quotes that no brace closes.
void BM_PanQuoteRun(benchmark::State& state) {
  run(state, "dlink\\\":\\\"" + std::string(4096, '\\') + std::string(cap / 2, '"') + "x\\\"}",
      sharelink::parse_pan_page);
}
BENCHMARK(BM_PanQuoteRun)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
