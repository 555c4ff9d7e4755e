// Build-time program: writes the code page 936 tables, as the build machine's
// iconv gives them, as a C++ source file defining sharelink::cp936::built_in.
//   sharelink_cp936_tables OUTPUT.cpp
#include <cstdio>
#include <memory>
#include <string>

#include "codec/cp936_tables.h"

namespace {

template <std::size_t N>
void write_array(std::FILE* out, const std::array<std::uint16_t, N>& values) {
  std::fputs("  {{\n", out);
  for (std::size_t i = 0; i < N; ++i) {
    std::fprintf(out, "%u,", static_cast<unsigned>(values[i]));
    if (i % 24 == 23 || i + 1 == N) std::fputc('\n', out);
  }
  std::fputs("  }},\n", out);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sharelink::cp936;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
    return 2;
  }
  const auto t = std::make_unique<tables>(read_from_iconv());
  // 中 is D6 D0 both ways; without it iconv knows no code page 936 at all, and
  // a table of nothing but question marks must not be built in silently.
  if (t->from_unit[0x4E2D] != 0xD6D0 || t->from_pair[(0xD6 - kFirstLead) * kTrailCount + (0xD0 - kFirstTrail)] != 0x4E2D) {
    std::fprintf(stderr, "%s: this system's iconv has no code page 936 (CP936 or GBK)\n", argv[0]);
    return 1;
  }
  // Written beside the target and renamed over it, so that a failed run never
  // leaves a half-written source for the next build to take as done.
  const std::string target = argv[1];
  const std::string partial = target + ".partial";
  std::FILE* out = std::fopen(partial.c_str(), "w");
  if (out == nullptr) {
    std::perror(partial.c_str());
    return 1;
  }
  std::fputs("// Generated at build time by cp936_tables_gen.cpp from iconv. Do not edit.\n"
             "#include \"codec/cp936_tables.h\"\n\n"
             "namespace sharelink::cp936 {\n\n"
             "const tables built_in = {\n", out);
  write_array(out, t->from_unit);
  write_array(out, t->from_pair);
  write_array(out, t->from_high_byte);
  std::fputs("};\n\n}  // namespace sharelink::cp936\n", out);
  const bool written = std::ferror(out) == 0;
  if (std::fclose(out) != 0 || !written || std::rename(partial.c_str(), target.c_str()) != 0) {
    std::perror(target.c_str());
    std::remove(partial.c_str());
    return 1;
  }
  return 0;
}
