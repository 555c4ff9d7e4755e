#include "reading/file_type.h"

#include <array>
#include <string>
#include <string_view>

namespace sharelink {
namespace {

struct file_kind {
  std::array<std::string_view, 5> keys;  // the rest empty, which no key is
  std::string_view description;          // ends in three spaces and "("
};

constexpr std::array<file_kind, 10> file_kinds = {{
    {{"rar", "zip", "jar", "7z", "cab"}, "winrar压缩包文件   ("},
    {{"bmp", "jpg", "png", "gif", "ico"}, "图形图像文件   ("},
    {{"exe"}, "windows可执行文件   ("},
    {{"iso"}, "光盘映像文件   ("},
    {{"txt"}, "文本文档   ("},
    {{"e"}, "易语言源码文件   ("},
    {{"doc"}, "Microsoft Office Word 2003文档   ("},
    {{"wav", "mp3", "aac", "wma"}, "声音文件   ("},
    {{"avi", "rm", "rmvb", "mpeg", "mp4"}, "媒体视频文件   ("},
    {{"torrent"}, "迅雷bt种子文件   ("},
}};

}  // namespace

local_text file_type_key(std::string_view file_name) {
  // '.' is never the second byte of a double-byte character, so a byte search is safe.
  const std::string_view name = as_local(file_name);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return local_text(name.substr(dot + 1));
}

local_text classify_file_type(std::string_view file_name) {
  local_text key = file_type_key(file_name);
  if (key.empty()) return key;
  for (const file_kind& kind : file_kinds) {
    for (std::string_view candidate : kind.keys) {
      if (candidate == key) return std::string(kind.description) + key + ")";
    }
  }
  return key;
}

}  // namespace sharelink
