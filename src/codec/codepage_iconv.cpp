// Code page 936 conversion for systems with iconv.
//
// iconv alone cannot convert the way the Windows build does: it reports a
// malformed UTF-8 sequence and a character missing from the code page with the
// same EILSEQ and stops, where Windows substitutes and carries on. So the UTF-8
// reading is done here, leniently, and iconv only gives two lookup tables:
// UTF-16 unit -> code page 936 bytes, and code page 936 pair -> UTF-16 unit.
// They are read from iconv when the program is built (cp936_tables.h).
#include <cstdint>

#include "codec/codepage.h"
#include "codec/cp936_tables.h"
#include "codec/utf8.h"

namespace sharelink {

namespace {

using cp936::kFirstLead;
using cp936::kFirstTrail;
using cp936::kLastLead;
using cp936::kLastTrail;
using cp936::kTrailCount;
using Cp936Tables = cp936::tables;

/// What the code page writes for a character it lacks.
constexpr char kMissing = '?';

/// Writes the code page bytes of `cp` at `out` and returns the end of what it wrote.
char* put_cp936(char* out, const Cp936Tables& t, uint32_t cp) {
  if (cp >= 0x10000) {
    // Two UTF-16 units, neither of which the code page has.
    *out++ = kMissing;
    *out++ = kMissing;
    return out;
  }
  const uint16_t bytes = t.from_unit[cp];
  if (bytes == 0) {
    *out++ = kMissing;
  } else if (bytes < 0x100) {
    *out++ = static_cast<char>(bytes);
  } else {
    *out++ = static_cast<char>(bytes >> 8);
    *out++ = static_cast<char>(bytes & 0xFF);
  }
  return out;
}


constexpr uint32_t kReplacement = 0xFFFD;

}  // namespace

local_text utf8_to_local(std::string_view utf8) {
  // A U+0000 ends the text. Only a zero byte reads as U+0000 (an overlong form is
  // invalid), so the text ends at the first zero byte.
  const std::string_view in = as_local(utf8);
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  // Nothing grows: every sequence, valid or not, gives at most as many bytes as it has.
  local_text result(n, '\0');
  char* const begin = result.data();
  char* out = begin;

  const Cp936Tables& t = cp936::built_in;
  size_t i = 0;
  while (i < n) {
    if (s[i] < 0x80) {
      *out++ = static_cast<char>(s[i++]);
      continue;
    }

    // Well-formed sequences; the first continuation byte of E0, ED, F0 and F4 has
    // a narrower range. A broken sequence is replaced once, up to the first byte
    // that cannot continue it.
    const unsigned lead = s[i++];
    int continuation;
    unsigned low = 0x80, high = 0xBF;
    uint32_t cp;
    if (lead < 0xC2 || lead > 0xF4) {
      *out++ = kMissing;
      continue;
    } else if (lead < 0xE0) {
      continuation = 1;
      cp = lead & 0x1F;
    } else if (lead < 0xF0) {
      continuation = 2;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else {
      continuation = 3;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    bool complete = true;
    for (int k = 0; k < continuation; ++k) {
      if (i < n && s[i] >= low && s[i] <= high) {
        cp = cp << 6 | (s[i++] & 0x3F);
        low = 0x80;
        high = 0xBF;
      } else {
        complete = false;
        break;
      }
    }
    // U+FFFD, which stands for the broken sequence, is not in the code page either.
    if (complete) {
      out = put_cp936(out, t, cp);
    } else {
      *out++ = kMissing;
    }
  }
  result.resize(static_cast<size_t>(out - begin));
  return result;
}

std::string local_to_utf8(std::string_view local) {
  const std::string_view in = as_local(local);
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  std::string out;
  out.reserve(n + n / 2);

  const Cp936Tables& t = cp936::built_in;
  size_t i = 0;
  while (i < n) {
    const size_t ascii_start = i;
    while (i < n && s[i] < 0x80) ++i;
    out.append(in.data() + ascii_start, i - ascii_start);
    if (i == n) break;

    const unsigned lead = s[i];
    if (const uint16_t single = t.from_high_byte[lead - 0x80]) {
      append_utf8(out, single);
      i += 1;
    } else if (lead >= kFirstLead && lead <= kLastLead && i + 1 < n && s[i + 1] >= kFirstTrail &&
               s[i + 1] <= kLastTrail && s[i + 1] != 0x7F) {
      const uint16_t unit = t.from_pair[(lead - kFirstLead) * kTrailCount + (s[i + 1] - kFirstTrail)];
      append_utf8(out, unit != 0 ? unit : kReplacement);
      i += 2;
    } else {
      // Not a lead byte, a lead byte at the end, or one whose next byte cannot
      // be a trail byte: replace the one byte and read on from the next.
      append_utf8(out, kReplacement);
      i += 1;
    }
  }
  return out;
}

}  // namespace sharelink
