#pragma once
// For tests: a fresh folder under the system's temporary folder, removed with
// everything in it when the object goes.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace sharelink::testing {

inline std::filesystem::path utf8_path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

class test_folder {
 public:
  test_folder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("sharelink-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~test_folder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  test_folder(const test_folder&) = delete;
  test_folder& operator=(const test_folder&) = delete;

  /// The folder as UTF-8.
  std::string path() const {
    const auto text = path_.generic_u8string();
    return std::string(text.begin(), text.end());
  }
  /// `name` (UTF-8) in the folder.
  std::string operator/(const std::string& name) const { return path() + "/" + name; }

  /// Writes a file (UTF-8 path).
  static void write(const std::string& path, const std::string& bytes) {
    std::ofstream out(utf8_path(path), std::ios::binary);
    out << bytes;
  }
  /// The bytes of a file, or "<missing>".
  static std::string read(const std::string& path) {
    std::ifstream in(utf8_path(path), std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static bool exists(const std::string& path) { return std::filesystem::exists(utf8_path(path)); }

 private:
  std::filesystem::path path_;
};

}  // namespace sharelink::testing
