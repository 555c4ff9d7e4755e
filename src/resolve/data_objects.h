#pragma once
// A reading of the escaped data object a Pan page writes into its script, for
// the pages that list several files.
#include <cstddef>
#include <string_view>
#include <vector>

namespace sharelink {

/// One object of the data that holds a dlink key: the values of its own members,
/// as views into the page, exactly as they stand between their quotes.
struct data_object {
  std::size_t open = 0;              ///< position of its "{" in the page
  std::string_view download_url;     ///< the dlink value
  std::string_view file_name;        ///< after the first "filename=" of a string, to that string's end
  std::string_view size;             ///< the size value; may also be a bare number
  std::string_view md5;
  bool has_file_name = false;
  bool has_size = false;
  bool has_md5 = false;
};

/// Every object of `page` that holds a dlink key and is closed, ordered by where
/// it opens.
///
/// The data is read the way the page escapes it: a quote is a run of backslashes
/// and a double quote, and a string runs from one such quote to the next. A quote
/// takes at least as many backslashes as the fewest before which a dlink key ends
/// (one on most pages), so that data escaped twice is not read as the one string
/// that wraps it. A string directly followed (blanks aside) by ":" is a key, and the string
/// after the ":" its value; keys are compared whole and case-sensitively (dlink,
/// size, md5). Braces and brackets outside strings open and close objects and
/// arrays; plain double quotes and everything else outside strings are ignored.
/// Within one object the last value of a key stands, and the file name comes from
/// the last string of its own (not of a nested object or array) that holds
/// "filename=". Objects nested deeper than 64 are passed over. Linear in the
/// page's length.
std::vector<data_object> find_data_objects(std::string_view page);

}  // namespace sharelink
