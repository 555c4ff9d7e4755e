#pragma once
// Lookup tables between UTF-16 units and code page 936 bytes, as the Linux
// conversion uses them. The tables are read from the build machine's iconv by a
// small program at build time (cp936_tables_gen.cpp) and compiled in, so that no
// process spends its start building them.
#include <array>
#include <cstdint>

namespace sharelink::cp936 {

constexpr unsigned kFirstLead = 0x81, kLastLead = 0xFE;
constexpr unsigned kFirstTrail = 0x40, kLastTrail = 0xFE;
constexpr unsigned kTrailCount = kLastTrail - kFirstTrail + 1;

struct tables {
  /// Code page bytes of each UTF-16 unit: a single byte b as b, a pair as
  /// (lead << 8) | trail, 0 when the code page lacks the unit.
  std::array<std::uint16_t, 0x10000> from_unit;
  /// UTF-16 unit of each lead/trail pair, 0 when the pair is not a character.
  std::array<std::uint16_t, (kLastLead - kFirstLead + 1) * kTrailCount> from_pair;
  /// UTF-16 unit of each single byte 0x80..0xFF that is a character on its own.
  std::array<std::uint16_t, 0x80> from_high_byte;
};

/// The tables compiled into the program (generated source).
extern const tables built_in;

/// The tables as the running system's iconv gives them ("CP936", or "GBK" when
/// iconv lacks that name); all zero beyond ASCII when it has neither. Used by the
/// generator, and by a test that checks the compiled-in tables against it.
tables read_from_iconv();

}  // namespace sharelink::cp936
