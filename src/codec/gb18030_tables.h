#pragma once
// What GB18030 bytes stand for, as the decoder (gb18030.cpp) looks them up.
// The tables are read from the build machine's iconv by a small program run at
// build time (gb18030_tables_gen.cpp) and compiled into both builds, so Linux
// and Windows read the same bytes as the same characters.
//
// GB18030 is ASCII, two-byte codes (lead 81..FE, trail 40..7E or 80..FE) and
// four-byte codes (81..FE, 30..39, 81..FE, 30..39). The four-byte codes are
// numbered in order, and long stretches of them stand for consecutive code
// points, so they are kept as ranges.
#include <cstdint>
#include <vector>

namespace sharelink::gb18030 {

constexpr unsigned kFirstLead = 0x81, kLastLead = 0xFE;
constexpr unsigned kLeadCount = kLastLead - kFirstLead + 1;
constexpr unsigned kTrailCount = 190;  // 40..7E and 80..FE
constexpr std::uint32_t kFourByteCount = kLeadCount * 10 * kLeadCount * 10;

/// Index of a two-byte code's trail byte among the 190, or -1 when it is none.
constexpr int trail_index(unsigned trail) {
  if (trail >= 0x40 && trail <= 0x7E) return static_cast<int>(trail - 0x40);
  if (trail >= 0x80 && trail <= 0xFE) return static_cast<int>(trail - 0x80 + 0x3F);
  return -1;
}

/// A run of four-byte codes from number `first` on (0 is 81 30 81 30), standing
/// for consecutive code points from `code_point` on; a code point of 0 marks a
/// run of codes that stand for nothing. A run lasts until the next one begins.
struct range {
  std::uint32_t first;
  std::uint32_t code_point;
};

/// Code point of each two-byte code, (lead - 81) * 190 + trail_index; 0 when the
/// code is not a character. (A few lie beyond the Basic Multilingual Plane.)
extern const std::uint32_t built_in_two_byte[kLeadCount * kTrailCount];
/// The four-byte runs in order; the first begins at 0.
extern const range built_in_four_byte[];
extern const std::uint32_t built_in_four_byte_count;

struct tables {
  std::vector<std::uint32_t> two_byte;
  std::vector<range> four_byte;
};

/// The tables as the running system's iconv gives them; empty when iconv has no
/// GB18030. Used by the generator.
tables read_from_iconv();

}  // namespace sharelink::gb18030
