#pragma once
// Templates of a rule: texts with {NAME} placeholders filled in from the values a
// resolution has read, each written as the place it stands in wants it.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sharelink {

/// Where a filled template goes, which says how each value is written into it.
enum class template_place {
  /// A request's address: each byte percent-escaped but letters, digits and "-._~".
  address,
  /// A form field, name or value (application/x-www-form-urlencoded): blanks as
  /// "+", each byte but letters, digits and "*-._" percent-escaped.
  form,
  /// A JSON text: a value inside a string literal escaped as its content, one
  /// outside as a string of its own (quoted).
  json,
  /// Anything else (headers, texts compared, fields): the value as it is.
  plain,
};

/// One piece of a template: literal text, or the name of a placeholder.
struct template_piece {
  bool placeholder = false;
  std::string text;  ///< the literal text, or the placeholder's name
};

/// A template read into its pieces, or where it is wrong.
struct parsed_template {
  std::vector<template_piece> pieces;
  /// Why the template cannot be read ("the brace after {NAME is not closed"),
  /// and the byte of the text (from 0) where that brace stands.
  std::optional<std::string> problem;
  std::size_t problem_at = 0;
};

/// Reads `text`: "{NAME}" where NAME is a letter or "_" and then letters, digits
/// and "_.-" is a placeholder; any other "{" is text (so that JSON keeps its
/// braces). "{NAME" followed by the end or by a character that is neither a name's
/// nor "}" is a problem: a placeholder left open.
parsed_template parse_template(std::string_view text);

/// The names `text` uses, in order, each once; empty when it cannot be read.
std::vector<std::string> template_names(std::string_view text);

/// The value of a name, or nothing when it has none.
using template_values = std::function<std::optional<std::string>(std::string_view name)>;

/// A template filled in, or the first name without a value.
struct filled_template {
  std::string text;
  std::optional<std::string> missing;
};

/// Fills `text` with `values`, each written as `place` wants it. A template that
/// cannot be read is filled as far as it reads (the rule reader refuses it first).
filled_template fill_template(std::string_view text, template_place place, const template_values& values);

/// `value` percent-escaped byte by byte but for letters, digits and "-._~".
std::string escape_for_address(std::string_view value);

/// `value` as a form writes it (template_place::form).
std::string escape_for_form(std::string_view value);

/// `value` as the content of a JSON string: quotes, backslashes and control
/// characters escaped.
std::string escape_for_json(std::string_view value);

}  // namespace sharelink
