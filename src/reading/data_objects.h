#pragma once
// A reading of the escaped data object a Pan page writes into its script, for
// the pages that list several files.
#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

namespace sharelink {

/// What marks a file and which of its members are read, by index (0 download
/// address, 1 name, 2 size, 3 MD5). The defaults are the Pan page's.
struct data_object_keys {
  std::string_view marker = "dlink";  ///< the key every file's object holds
  std::array<std::string_view, 4> keys = {"dlink", "", "size", "md5"};  ///< empty: not a key
  std::string_view after = "filename=";  ///< empty: none
  std::size_t after_field = 1;           ///< the value the text after `after` gives
  std::size_t bare_field = 2;            ///< the key whose value may be a bare number
};

/// One object of the data that holds the marker key: the values of its own members,
/// as views into the page, exactly as they stand between their quotes.
struct data_object {
  std::size_t open = 0;  ///< position of its "{" in the page
  /// By index: a key's last value in the object, or for `after` the text after the
  /// marker in the object's last string of its own that holds it, to that string's end.
  std::array<std::string_view, 4> values;
  std::array<bool, 4> has{};
};

/// Every object of `page` that holds the marker key and is closed, ordered by where
/// it opens.
///
/// The data is read the way the page escapes it: a quote is a run of backslashes
/// and a double quote, and a string runs from one such quote to the next. A quote
/// takes at least as many backslashes as the fewest before which a marker key ends
/// (one on most pages), so that data escaped twice is not read as the one string
/// that wraps it. A string directly followed (blanks aside) by ":" is a key, and the string
/// after the ":" its value (for `bare_field` also a bare number); keys are compared
/// whole and case-sensitively. Braces and brackets outside strings open and close
/// objects and arrays; plain double quotes and everything else outside strings are
/// ignored. Within one object the last value of a key stands, and the text after
/// `after` comes from the last string of its own (not of a nested object or array)
/// that holds it. Objects nested deeper than 64 are passed over. Linear in the
/// page's length.
std::vector<data_object> find_data_objects(std::string_view page, const data_object_keys& keys = {});

}  // namespace sharelink
