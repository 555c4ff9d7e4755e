// Throughput of the file-name codecs on about 1 MB of mixed Chinese and ASCII.
#include <benchmark/benchmark.h>

#include <string>

#include "codec/hex_escape.h"
#include "codec/percent.h"
#include "codec/utf8.h"

namespace {

/// About 1 MB of UTF-8: Chinese file names with ASCII extensions and numbers.
const std::string& mixed_utf8() {
  static const std::string text = [] {
    std::string s;
    const char* pieces[] = {"\xE4\xB8\xAD\xE6\x96\x87\xE6\x96\x87\xE4\xBB\xB6", "report-2024_v3.pdf ",
                            "\xE8\xA7\x86\xE9\xA2\x91", "(1).mp4 ", "\xE5\x8E\x8B\xE7\xBC\xA9\xE5\x8C\x85.zip "};
    for (size_t i = 0; s.size() < (1u << 20); ++i) s += pieces[i % 5];
    return s;
  }();
  return text;
}

/// The same text as a share page carries it: every non-ASCII byte escaped.
const std::string& mixed_escaped() {
  static const std::string text =
      sharelink::percent_escape(mixed_utf8(), [](unsigned char c) { return c >= 0x80 || c == ' '; });
  return text;
}

void BM_Utf8ToLocal(benchmark::State& state) {
  const std::string& in = mixed_utf8();
  for (auto _ : state) benchmark::DoNotOptimize(sharelink::utf8_to_local(in));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_Utf8ToLocal);

void BM_PercentDecode(benchmark::State& state) {
  const std::string& in = mixed_escaped();
  for (auto _ : state) benchmark::DoNotOptimize(sharelink::percent_decode(in));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_PercentDecode);


}  // namespace
