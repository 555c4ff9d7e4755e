#pragma once
// A reading of HTML markup that finds start tags and their attributes, for the
// pages that list files as elements.
#include <functional>
#include <span>
#include <string_view>

namespace sharelink {

/// One attribute of a start tag, both parts views into the page. The value is as
/// it stands between its quotes (or bare), character references not decoded;
/// empty for an attribute written without "=".
struct tag_attribute {
  std::string_view name;
  std::string_view value;
};

/// Calls `visit` with the attributes of each start tag of `page`, in page order.
///
/// The reading follows HTML's tokenizer in a simplified form: a start tag is "<"
/// and an ASCII letter, then its name, then attributes up to ">". An attribute
/// value is double-quoted, single-quoted or bare (up to a blank or ">"), with
/// blanks allowed around "=". Comments ("<!--" to "-->"), end tags, declarations
/// and the text of script, style, title and textarea elements hold no tags. A tag
/// or comment the page cuts short is not visited, and nothing after it is read.
/// Names keep their case; a repeated attribute is passed on each time. Linear in
/// the page's length.
///
/// With `everywhere`, the text of comments and of script, style, title and
/// textarea elements is read for tags too: for a page that writes its elements
/// from a script.
void for_each_start_tag(std::string_view page,
                        const std::function<void(std::span<const tag_attribute>)>& visit,
                        bool everywhere = false);

}  // namespace sharelink
