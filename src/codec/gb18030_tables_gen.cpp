// Build-time program: writes the GB18030 tables, as the build machine's iconv
// gives them, as a C++ source file.
//   sharelink_gb18030_tables OUTPUT.cpp
#include <cstdio>
#include <string>

#include "codec/gb18030_tables.h"

int main(int argc, char** argv) {
  using namespace sharelink::gb18030;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
    return 2;
  }
  const tables t = read_from_iconv();
  // 中 is D6 D0; without it iconv knows no GB18030 at all, and a table of nothing
  // must not be built in silently.
  if (t.two_byte.empty() || t.two_byte[(0xD6 - kFirstLead) * kTrailCount + trail_index(0xD0)] != 0x4E2D) {
    std::fprintf(stderr, "%s: this system's iconv has no GB18030\n", argv[0]);
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
  std::fputs("// Generated at build time by gb18030_tables_gen.cpp from iconv. Do not edit.\n"
             "#include \"codec/gb18030_tables.h\"\n\n"
             "namespace sharelink::gb18030 {\n\n"
             "const std::uint32_t built_in_two_byte[kLeadCount * kTrailCount] = {\n", out);
  for (std::size_t i = 0; i < t.two_byte.size(); ++i) {
    std::fprintf(out, "%u,", static_cast<unsigned>(t.two_byte[i]));
    if (i % kTrailCount == kTrailCount - 1) std::fputc('\n', out);
  }
  std::fputs("};\n\nconst range built_in_four_byte[] = {\n", out);
  for (std::size_t i = 0; i < t.four_byte.size(); ++i) {
    std::fprintf(out, "{%u,%u},", static_cast<unsigned>(t.four_byte[i].first),
                 static_cast<unsigned>(t.four_byte[i].code_point));
    if (i % 8 == 7) std::fputc('\n', out);
  }
  std::fprintf(out, "\n};\n\nconst std::uint32_t built_in_four_byte_count = %zu;\n\n"
                    "}  // namespace sharelink::gb18030\n", t.four_byte.size());
  const bool written = std::ferror(out) == 0;
  if (std::fclose(out) != 0 || !written || std::rename(partial.c_str(), target.c_str()) != 0) {
    std::perror(target.c_str());
    std::remove(partial.c_str());
    return 1;
  }
  return 0;
}
