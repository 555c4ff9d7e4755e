#pragma once
// File names from share pages, made safe to create in the chosen folder.
#include <cstddef>
#include <string>
#include <string_view>

namespace sharelink {

/// How a file system measures a name: Linux in UTF-8 bytes, Windows in UTF-16 units.
enum class name_units { utf8_bytes, utf16_units };

/// The longest name made here, in name_units: the 255 of both systems less room for
/// the ".part" a download is written to first.
inline constexpr std::size_t max_name_length = 250;

/// `name` (UTF-8, as a page gives it) as a bare file name (UTF-8) that creates a file
/// in the folder it is joined to and nowhere else, on Linux and Windows alike:
/// - only the last segment after any '/' or '\' is kept;
/// - blanks at either end, leading dots and trailing dots and blanks are dropped
///   (nothing becomes hidden, nothing ends the way Windows would silently change);
/// - bytes that are not UTF-8, control characters, the characters < > : " | ? *
///   and bidirectional formatting characters each become '_';
/// - a name Windows reserves for a device (CON, PRN, AUX, NUL, COM0-9, LPT0-9,
///   CONIN$, CONOUT$, with any extension) gets a leading '_';
/// - a name longer than max_name_length is cut on a character boundary, keeping
///   its extension.
/// When nothing is left, the name is made the same way from `fallback`: of an
/// address ("scheme://host/path?query"), its last path segment; else "download".
std::string safe_file_name(std::string_view name, std::string_view fallback, name_units units);

/// A folder path within a share ("a/b/c", UTF-8, '/' or '\' between its parts) as
/// a relative path under the folder it is joined to, parts joined by '/': each part
/// made safe as safe_file_name makes a name, and the parts that are empty, "." or
/// ".." left out, so that it never leaves that folder. Empty for the top.
std::string safe_folder_path(std::string_view folder, name_units units);

/// The length of `name` (UTF-8) in `units`.
std::size_t name_length(std::string_view name, name_units units);

/// The n-th alternative to a safe `name` that is taken: "NAME (n).ext", the part
/// before the extension cut so that the result stays within max_name_length.
std::string numbered_file_name(std::string_view name, int n, name_units units);

/// The highest n a taken name is numbered with; past it a file gets no name.
inline constexpr int most_numbered_names = 9999;

}  // namespace sharelink
