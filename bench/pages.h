#pragma once
// Pieces the parse benchmarks build their pages from.
#include <cstddef>
#include <string>

namespace sharelink::bench {

inline constexpr std::size_t one_mb = 1u << 20;
inline constexpr std::size_t cap = 8u << 20;  // the fetcher's body cap

/// `head`, then `piece` repeated while the page stays within `size` bytes, then `tail`.
inline std::string repeated(const std::string& head, const std::string& piece, std::size_t size,
                            const std::string& tail = "") {
  std::string page = head;
  page.reserve(size + tail.size());
  while (page.size() + piece.size() <= size) page += piece;
  return page + tail;
}

/// An ordinary Kuaichuan listing of about 1 MB: one file record a line.
inline std::string kuaichuan_listing_1mb() {
  return repeated("<html><body><ul>\n",
                  "<li><a class=\"file_name\" href=\"javascript:;\" "
                  "file_url=\"http://dl.kc.example/d/AbC123/%E4%B8%AD.rar?t=1350000000&amp;k=1\" "
                  "file_size=\"1048576\" file_name=\"%E4%B8%AD%E6%96%87%E6%8A%A5%E5%91%8A.rar\">x</a>"
                  "<div class=\"meta\" style=\"display:none\">uploaded 2012-10-12</div></li>\n",
                  one_mb,
                  "</ul><input id=\"first_file_size\" value='1048576'>"
                  "<input id=\"key\" value='8f14e45fceea167a5a36dedd4b4c7d2b'></body></html>");
}

/// An ordinary Pan listing of about 1 MB: the escaped data object of its script.
inline std::string pan_listing_1mb() {
  const std::string q = "\\\"";  // a quote as the Pan page escapes it
  return repeated("<script>yunData.setData(JSON.parse(\"{" + q + "list" + q + ":[",
                  "{" + q + "fs_id" + q + ":" + q + "881235566" + q + "," + q + "size" + q + ":" + q + "1536" + q +
                      "," + q + "md5" + q + ":" + q + "e10adc3949ba59abbe56e057f20f883e" + q + "," + q + "dlink" +
                      q + ":" + q + "http:\\\\/\\\\/d.pan.example\\\\/file?fid=1&filename=%E4%B8%AD.rar" + q + "},",
                  one_mb, "]}\"));</script>");
}

}  // namespace sharelink::bench
