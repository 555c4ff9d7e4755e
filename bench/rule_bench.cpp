// A share page read through a built-in service's rule against the hand-written
// reader of the same service (bench/compare row (i)): the same ordinary 1 MB
// listings as the page-reading benchmarks.
#include <benchmark/benchmark.h>

#include <string>

#include "pages.h"
#include "testing/reference/file_records.h"
#include "reading/rule_reading.h"
#include "rules/services.h"

namespace {

const std::string& kuaichuan_listing() {
  static const std::string page = sharelink::bench::kuaichuan_listing_1mb();
  return page;
}

const std::string& pan_listing() {
  static const std::string page = sharelink::bench::pan_listing_1mb();
  return page;
}

void through_rule(benchmark::State& state, const char* service, const std::string& page) {
  const sharelink::service_registry registry = sharelink::service_registry::built_in();
  const sharelink::service_rule& rule = registry.find(service)->rule;
  // The answers are made once, as a fetch hands its body over once; the reader is
  // given the page it reads in the same way.
  const sharelink::rule_answers answers = {{"page", page}};
  for (auto _ : state) benchmark::DoNotOptimize(sharelink::read_with_rule(rule, answers));
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
