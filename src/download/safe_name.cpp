#include "download/safe_name.h"

#include <algorithm>

#include "codec/utf8.h"

namespace sharelink {
namespace {

constexpr char32_t invalid = 0xFFFFFFFF;

// Code points of `text`; each byte that does not start a well-formed UTF-8
// sequence (overlong forms and surrogates included) becomes `invalid`.
std::u32string decode_utf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
      out += b0;
      ++i;
      continue;
    }
    int extra = 0;
    char32_t cp = 0, min = 0;
    if ((b0 & 0xE0) == 0xC0) extra = 1, cp = b0 & 0x1F, min = 0x80;
    else if ((b0 & 0xF0) == 0xE0) extra = 2, cp = b0 & 0x0F, min = 0x800;
    else if ((b0 & 0xF8) == 0xF0) extra = 3, cp = b0 & 0x07, min = 0x10000;
    bool ok = extra > 0;
    for (int k = 1; ok && k <= extra; ++k) {
      if (i + k >= text.size()) {
        ok = false;
        break;
      }
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) ok = false;
      else cp = cp << 6 | (b & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (ok) {
      out += cp;
      i += extra + 1;
    } else {
      out += invalid;
      ++i;
    }
  }
  return out;
}


std::string encode_utf8(std::u32string_view text) {
  std::string out;
  for (char32_t cp : text) append_utf8(out, cp);
  return out;
}

std::size_t length_of(char32_t cp, name_units units) {
  if (units == name_units::utf16_units) return cp >= 0x10000 ? 2 : 1;
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

std::size_t length_of(std::u32string_view text, name_units units) {
  std::size_t n = 0;
  for (char32_t cp : text) n += length_of(cp, units);
  return n;
}

bool is_blank(char32_t cp) { return cp == ' ' || cp == 0x3000; }

bool becomes_underscore(char32_t cp) {
  if (cp == invalid || cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return true;
  if (cp == '<' || cp == '>' || cp == ':' || cp == '"' || cp == '|' || cp == '?' || cp == '*')
    return true;
  // Bidirectional formatting characters can make "exe.txt" look like "txt.exe".
  return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069);
}

void trim_end(std::u32string& text) {
  while (!text.empty() && (text.back() == '.' || is_blank(text.back()))) text.pop_back();
}

char32_t ascii_upper(char32_t cp) { return cp >= 'a' && cp <= 'z' ? cp - 32 : cp; }

// True when Windows reads `name` as a device: the part before the first dot, less
// trailing blanks, is one of the reserved names.
bool is_reserved_on_windows(std::u32string_view name) {
  std::u32string stem(name.substr(0, name.find(U'.')));
  while (!stem.empty() && is_blank(stem.back())) stem.pop_back();
  for (char32_t& cp : stem) cp = ascii_upper(cp);
  if (stem == U"CON" || stem == U"PRN" || stem == U"AUX" || stem == U"NUL" ||
      stem == U"CONIN$" || stem == U"CONOUT$")
    return true;
  if (stem.size() == 4 && (stem.starts_with(U"COM") || stem.starts_with(U"LPT"))) {
    const char32_t digit = stem[3];
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

// Where the extension of `name` starts (its last dot), or npos when it has none
// worth keeping: a dot that starts the name, or an "extension" too long to be one.
std::size_t extension_start(std::u32string_view name) {
  const std::size_t dot = name.rfind(U'.');
  if (dot == std::u32string_view::npos || dot == 0 || name.size() - dot > 20)
    return std::u32string_view::npos;
  return dot;
}

// `stem` cut to at most `room` units on a character boundary.
std::u32string cut(std::u32string_view stem, std::size_t room, name_units units) {
  std::u32string out;
  std::size_t used = 0;
  for (char32_t cp : stem) {
    used += length_of(cp, units);
    if (used > room) break;
    out += cp;
  }
  return out;
}

// `stem` + `middle` + `extension`, the stem cut so that the whole fits.
std::u32string fit(std::u32string_view stem, std::u32string_view middle,
                   std::u32string_view extension, std::size_t room, name_units units) {
  const std::size_t fixed = length_of(middle, units) + length_of(extension, units);
  std::u32string out = cut(stem, room - std::min(room, fixed), units);
  if (out.size() < stem.size()) trim_end(out);
  out += middle;
  out += extension;
  return out;
}

std::u32string_view last_segment(std::u32string_view path) {
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.remove_suffix(1);
  const std::size_t slash = path.find_last_of(U"/\\");
  return slash == std::u32string_view::npos ? path : path.substr(slash + 1);
}

// `name` cut to `room` units, keeping its extension where it has one worth keeping.
std::u32string shorten(std::u32string name, std::size_t room, name_units units) {
  if (length_of(name, units) <= room) return name;
  const std::size_t dot = extension_start(name);
  if (dot == std::u32string::npos || name.size() - dot >= room) {
    name = cut(name, room, units);
    trim_end(name);
    return name;
  }
  const std::u32string_view whole = name;
  return fit(whole.substr(0, dot), U"", whole.substr(dot), room, units);
}

std::u32string clean(std::u32string_view segment, name_units units) {
  std::u32string name;
  for (char32_t cp : segment) name += becomes_underscore(cp) ? U'_' : cp;
  std::size_t start = 0;
  while (start < name.size() && (name[start] == '.' || is_blank(name[start]))) ++start;
  name.erase(0, start);
  trim_end(name);
  name = shorten(std::move(name), max_name_length, units);
  if (!name.empty() && is_reserved_on_windows(name)) {
    // The leading '_' must fit within the length too.
    name = shorten(std::move(name), max_name_length - 1, units);
    name.insert(0, 1, U'_');
  }
  return name;
}

}  // namespace

std::string safe_file_name(std::string_view name, std::string_view fallback, name_units units) {
  std::u32string made = clean(last_segment(decode_utf8(name)), units);
  if (made.empty()) {
    std::u32string address = decode_utf8(fallback);
    std::u32string_view path = address;
    if (const std::size_t scheme = path.find(U"://"); scheme != std::u32string_view::npos) {
      path.remove_prefix(scheme + 3);
      path = path.substr(0, path.find_first_of(U"?#"));
      const std::size_t slash = path.find_first_of(U"/\\");
      path = slash == std::u32string_view::npos ? std::u32string_view() : path.substr(slash);
    }
    made = clean(last_segment(path), units);
  }
  return made.empty() ? "download" : encode_utf8(made);
}

std::string safe_folder_path(std::string_view folder, name_units units) {
  std::string path;
  while (!folder.empty()) {
    const std::size_t end = std::min(folder.find_first_of("/\\"), folder.size());
    const std::string_view part = folder.substr(0, end);
    folder.remove_prefix(std::min(end + 1, folder.size()));
    if (part.empty() || part == "." || part == "..") continue;
    // A part that is nothing once made safe ("...") becomes "_", never "download".
    const std::string safe = safe_file_name(part, "_", units);
    path += (path.empty() ? "" : "/") + safe;
  }
  return path;
}

std::size_t name_length(std::string_view name, name_units units) {
  return length_of(decode_utf8(name), units);
}

std::string numbered_file_name(std::string_view name, int n, name_units units) {
  const std::u32string text = decode_utf8(name);
  const std::u32string_view whole = text;
  const std::size_t dot = extension_start(whole);
  const std::u32string_view stem = whole.substr(0, dot);
  const std::u32string_view extension =
      dot == std::u32string_view::npos ? std::u32string_view() : whole.substr(dot);
  std::u32string middle = U" (";
  for (char c : std::to_string(n)) middle += static_cast<char32_t>(c);
  middle += U')';
  return encode_utf8(fit(stem, middle, extension, max_name_length, units));
}

}  // namespace sharelink
