// A share page read through a built-in service's rule against the hand-written
// reader of the same service (bench/compare row (f)): the same ordinary 1 MB
// listings as the page-reading benchmarks.
#include <benchmark/benchmark.h>

#include <string>

#include "pages.h"
#include "resolve/file_records.h"
#include "resolve/rule_reading.h"
#include "resolve/services.h"

namespace {

using sharelink::bench::one_mb;
using sharelink::bench::repeated;

const std::string q = "\\\"";

const std::string& kuaichuan_listing() {
  static const std::string page = repeated(
      "<html><body><ul>\n",
      "<li><a class=\"file_name\" href=\"javascript:;\" "
      "file_url=\"http://dl.kc.example/d/AbC123/%E4%B8%AD.rar?t=1350000000&amp;k=1\" "
      "file_size=\"1048576\" file_name=\"%E4%B8%AD%E6%96%87%E6%8A%A5%E5%91%8A.rar\">x</a>"
      "<div class=\"meta\" style=\"display:none\">uploaded 2012-10-12</div></li>\n",
      one_mb,
      "</ul><input id=\"first_file_size\" value='1048576'>"
      "<input id=\"key\" value='8f14e45fceea167a5a36dedd4b4c7d2b'></body></html>");
  return page;
}

const std::string& pan_listing() {
  static const std::string page = repeated(
      "<script>yunData.setData(JSON.parse(\"{" + q + "list" + q + ":[",
      "{" + q + "fs_id" + q + ":" + q + "881235566" + q + "," + q + "size" + q + ":" + q + "1536" + q + "," + q +
          "md5" + q + ":" + q + "e10adc3949ba59abbe56e057f20f883e" + q + "," + q + "dlink" + q + ":" + q +
          "http:\\\\/\\\\/d.pan.example\\\\/file?fid=1&filename=%E4%B8%AD.rar" + q + "},",
      one_mb, "]}\"));</script>");
  return page;
}

void through_rule(benchmark::State& state, const char* service, const std::string& page) {
  const sharelink::service_registry registry = sharelink::service_registry::built_in();
  const sharelink::service_rule& rule = registry.find(service)->rule;
  for (auto _ : state) benchmark::DoNotOptimize(sharelink::read_with_rule(rule, {{"page", page}}));
}

void BM_KuaichuanRule1MB(benchmark::State& state) { through_rule(state, "kuaichuan", kuaichuan_listing()); }
void BM_KuaichuanReader1MB(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(sharelink::read_kuaichuan_page(kuaichuan_listing()));
}
void BM_PanRule1MB(benchmark::State& state) { through_rule(state, "pan", pan_listing()); }
void BM_PanReader1MB(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(sharelink::read_pan_page(pan_listing()));
}

BENCHMARK(BM_KuaichuanRule1MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KuaichuanReader1MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PanRule1MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PanReader1MB)->Unit(benchmark::kMillisecond);

}  // namespace
