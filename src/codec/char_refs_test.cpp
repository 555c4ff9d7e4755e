#include "codec/char_refs.h"

#include <gtest/gtest.h>

#include <string>

namespace sharelink {
namespace {

TEST(CharRefs, DecodesTheFiveNamedAndAllNumericForms) {
  struct row {
    std::string in, out;
  };
  const row rows[] = {
      {"a?b=1&amp;c=2", "a?b=1&c=2"},
      {"&lt;&gt;&quot;&apos;", "<>\"'"},
      {"&#65;&#x42;&#X43;&#0000068;", "ABCD"},
      {"&#x4e2d;&#20013;", "中中"},
      {"&#x0E01;&#x1F600;.txt", "\xE0\xB8\x81😀.txt"},  // Thai ko kai, an emoji
      {"&#x10FFFF;", "\xF4\x8F\xBF\xBF"},
      // Decoded once: the "&" a reference gives starts nothing.
      {"&amp;lt;&amp;#65;", "&lt;&#65;"},
      // Everything else stays as it stands.
      {"&AMP;&Lt;&nbsp;&copy;&amp &lt", "&AMP;&Lt;&nbsp;&copy;&amp &lt"},
      {"&#0;&#x0;&#xD800;&#xDFFF;&#x110000;&#1114112;", "&#0;&#x0;&#xD800;&#xDFFF;&#x110000;&#1114112;"},
      {"&#;&#x;&#65&#x41 &#6a;&#99999999999999999999;", "&#;&#x;&#65&#x41 &#6a;&#99999999999999999999;"},
      {"&&#65;&", "&A&"},
      // Bytes around references are kept as they are, even when they are not UTF-8.
      {"\xD6\xD0&#x4e2d;x", "\xD6\xD0中x"},
      {"", ""},
  };
  for (const row& r : rows) EXPECT_EQ(decode_char_refs(r.in), r.out) << r.in;
}

TEST(CharRefs, StopsAtTheFirstZeroByte) {
  EXPECT_EQ(decode_char_refs(std::string("&amp;\0&amp;", 11)), "&");
}

}  // namespace
}  // namespace sharelink
