#include "rules/rule_template.h"

#include <algorithm>

#include "codec/hex_escape.h"

namespace sharelink {
namespace {

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool starts_name(char c) { return is_letter(c) || c == '_'; }
bool in_name(char c) { return is_letter(c) || is_digit(c) || c == '_' || c == '.' || c == '-'; }

void add_text(std::vector<template_piece>& pieces, std::string_view text) {
  if (text.empty()) return;
  if (pieces.empty() || pieces.back().placeholder) pieces.push_back({false, {}});
  pieces.back().text += text;
}

/// Whether a JSON text that reads `text` from outside a string ends inside one,
/// starting `inside` or not.
bool ends_in_string(std::string_view text, bool inside) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (inside && text[i] == '\\') ++i;
    else if (text[i] == '"') inside = !inside;
  }
  return inside;
}

}  // namespace

parsed_template parse_template(std::string_view text) {
  parsed_template read;
  std::size_t plain_from = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '{' || i + 1 >= text.size() || !starts_name(text[i + 1])) continue;
    std::size_t end = i + 1;
    while (end < text.size() && in_name(text[end])) ++end;
    if (end == text.size() || text[end] != '}') {
      read.problem = "the brace after {" + std::string(text.substr(i + 1, end - i - 1)) + " is not closed";
      read.problem_at = i;
      return read;
    }
    add_text(read.pieces, text.substr(plain_from, i - plain_from));
    read.pieces.push_back({true, std::string(text.substr(i + 1, end - i - 1))});
    plain_from = end + 1;
    i = end;
  }
  add_text(read.pieces, text.substr(plain_from));
  return read;
}

std::vector<std::string> template_names(std::string_view text) {
  std::vector<std::string> names;
  for (const template_piece& piece : parse_template(text).pieces)
    if (piece.placeholder && std::find(names.begin(), names.end(), piece.text) == names.end())
      names.push_back(piece.text);
  return names;
}

std::string escape_for_address(std::string_view value) {
  return percent_escape(value, [](unsigned char c) { return !is_unreserved(c); });
}

std::string escape_for_form(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == ' ') out += '+';
    else if (is_letter(c) || is_digit(c) || c == '*' || c == '-' || c == '.' || c == '_') out += c;
    else append_percent_escape(out, static_cast<unsigned char>(c));
  }
  return out;
}

std::string escape_for_json(std::string_view value) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    } else {
      out += c;
    }
  }
  return out;
}

filled_template fill_template(std::string_view text, template_place place, const template_values& values) {
  filled_template filled;
  bool in_string = false;  // for json: where the text written so far stands
  for (const template_piece& piece : parse_template(text).pieces) {
    if (!piece.placeholder) {
      filled.text += piece.text;
      if (place == template_place::json) in_string = ends_in_string(piece.text, in_string);
      continue;
    }
    const std::optional<std::string> value = values(piece.text);
    if (!value) {
      if (!filled.missing) filled.missing = piece.text;
      continue;
    }
    switch (place) {
      case template_place::address: filled.text += escape_for_address(*value); break;
      case template_place::form: filled.text += escape_for_form(*value); break;
      case template_place::plain: filled.text += *value; break;
      case template_place::json:
        filled.text += in_string ? escape_for_json(*value) : "\"" + escape_for_json(*value) + "\"";
        break;
    }
  }
  return filled;
}

}  // namespace sharelink
