#pragma once
// The offline home page shipped with the program, opened when the window closes.
#include <string>
#include <string_view>
#include <vector>

namespace sharelink::app {

/// Where the home page may lie, in the order to try: beside the program, then in
/// the data folder of an installed tree (<prefix>/share/sharelink/home.html for a
/// program in <prefix>/bin). `program_folder` is absolute, without a trailing
/// separator; `separator` is the platform's ('/' or '\\').
std::vector<std::string> home_page_candidates(std::string_view program_folder, char separator);

/// The file address ("file:///...") of an absolute path. Every byte but ASCII
/// letters, digits, "-._~" and the path's slashes is percent-encoded, so the
/// address is printable ASCII whatever the path holds ("%", "#", "?", spaces, bytes
/// of other scripts). With `windows_path` the path is a Windows one in UTF-8:
/// "C:\dir\f" becomes "file:///C:/dir/f" and "\\server\share\f"
/// "file://server/share/f". With `keep_non_ascii` the bytes of other scripts stay
/// as they are: the Windows shell reads each escaped byte as a character of its
/// own, so "%E7%A8%8B" would name another folder than "程".
std::string file_address(std::string_view absolute_path, bool windows_path,
                         bool keep_non_ascii = false);

}  // namespace sharelink::app
