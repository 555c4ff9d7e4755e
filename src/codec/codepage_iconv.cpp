// Code page 936 conversion for systems with iconv.
//
// iconv alone cannot convert the way the Windows build does: it reports a
// malformed UTF-8 sequence and a character missing from the code page with the
// same EILSEQ and stops, where Windows substitutes and carries on. So the UTF-8
// reading is done here, leniently, and iconv only fills two lookup tables once:
// UTF-16 unit -> code page 936 bytes, and code page 936 pair -> UTF-16 unit.
#include <iconv.h>

#include <array>
#include <cstdint>
#include <memory>

#include "codec/codepage.h"

namespace sharelink {

namespace {

constexpr unsigned kFirstLead = 0x81, kLastLead = 0xFE;
constexpr unsigned kFirstTrail = 0x40, kLastTrail = 0xFE;
constexpr unsigned kTrailCount = kLastTrail - kFirstTrail + 1;

struct Cp936Tables {
  /// Code page bytes of each UTF-16 unit: a single byte b as b, a pair as
  /// (lead << 8) | trail, 0 when the code page lacks the unit.
  std::array<uint16_t, 0x10000> from_unit{};
  /// UTF-16 unit of each lead/trail pair, 0 when the pair is not a character.
  std::array<uint16_t, (kLastLead - kFirstLead + 1) * kTrailCount> from_pair{};
  /// UTF-16 unit of each single byte 0x80..0xFF that is a character on its own.
  std::array<uint16_t, 0x80> from_high_byte{};
};

struct IconvCloser {
  void operator()(iconv_t cd) const { iconv_close(cd); }
};
using Iconv = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

/// Opens a converter for code page 936 in the given direction. glibc knows the
/// code page as "CP936" (with the euro sign at 0x80); "GBK" is the fallback name.
Iconv open_cp936(bool to_cp936) {
  for (const char* name : {"CP936", "GBK"}) {
    iconv_t cd = to_cp936 ? iconv_open(name, "UTF-16LE") : iconv_open("UTF-16LE", name);
    if (cd != reinterpret_cast<iconv_t>(-1)) return Iconv(cd);
  }
  return nullptr;
}

/// Converts exactly `in_len` bytes; returns the number of bytes written, or 0
/// when iconv refused or left input over.
size_t convert(iconv_t cd, const char* in, size_t in_len, char* out, size_t out_len) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in_ptr = const_cast<char*>(in);
  char* out_ptr = out;
  size_t in_left = in_len, out_left = out_len;
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1) || in_left != 0) {
    return 0;
  }
  return out_len - out_left;
}

Cp936Tables* build_tables() {
  auto* t = new Cp936Tables;
  for (unsigned u = 1; u < 0x80; ++u) t->from_unit[u] = static_cast<uint16_t>(u);

  if (Iconv enc = open_cp936(true)) {
    for (unsigned u = 0x80; u < 0x10000; ++u) {
      if (u >= 0xD800 && u <= 0xDFFF) continue;
      const char in[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
      unsigned char out[8];
      const size_t n = convert(enc.get(), in, 2, reinterpret_cast<char*>(out), sizeof out);
      if (n == 1 && out[0] >= 0x80) {
        t->from_unit[u] = out[0];
      } else if (n == 2 && out[0] >= kFirstLead && out[0] <= kLastLead) {
        t->from_unit[u] = static_cast<uint16_t>(out[0] << 8 | out[1]);
      }
    }
  }

  if (Iconv dec = open_cp936(false)) {
    unsigned char out[8];
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
      const char in[1] = {static_cast<char>(b)};
      if (convert(dec.get(), in, 1, reinterpret_cast<char*>(out), sizeof out) == 2) {
        t->from_high_byte[b - 0x80] = static_cast<uint16_t>(out[0] | out[1] << 8);
      }
    }
    for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) {
      for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
        const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        if (convert(dec.get(), in, 2, reinterpret_cast<char*>(out), sizeof out) != 2) continue;
        const auto unit = static_cast<uint16_t>(out[0] | out[1] << 8);
        if (unit >= 0xD800 && unit <= 0xDFFF) continue;
        t->from_pair[(lead - kFirstLead) * kTrailCount + (trail - kFirstTrail)] = unit;
      }
    }
  }
  return t;
}

/// The tables, built on first use (thread-safe) and kept for the life of the process.
const Cp936Tables& tables() {
  static const Cp936Tables* const t = build_tables();
  return *t;
}

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

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
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

  const Cp936Tables* t = nullptr;
  size_t i = 0;
  while (i < n) {
    if (s[i] < 0x80) {
      *out++ = static_cast<char>(s[i++]);
      continue;
    }
    if (t == nullptr) t = &tables();

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
      out = put_cp936(out, *t, cp);
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

  const Cp936Tables* t = nullptr;
  size_t i = 0;
  while (i < n) {
    const size_t ascii_start = i;
    while (i < n && s[i] < 0x80) ++i;
    out.append(in.data() + ascii_start, i - ascii_start);
    if (i == n) break;
    if (t == nullptr) t = &tables();

    const unsigned lead = s[i];
    if (const uint16_t single = t->from_high_byte[lead - 0x80]) {
      append_utf8(out, single);
      i += 1;
    } else if (lead >= kFirstLead && lead <= kLastLead && i + 1 < n && s[i + 1] >= kFirstTrail &&
               s[i + 1] <= kLastTrail && s[i + 1] != 0x7F) {
      const uint16_t unit = t->from_pair[(lead - kFirstLead) * kTrailCount + (s[i + 1] - kFirstTrail)];
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
