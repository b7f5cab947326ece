#pragma once
// A fresh directory for one test, removed with everything in it afterwards.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zevrin::testing {

class TempDir {
 public:
  explicit TempDir(std::string_view tag)
      : path_(
            std::filesystem::temp_directory_path() /
            (std::string(tag) + "-" + std::to_string(::getpid()) + "-" + std::to_string(next_++))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string string() const { return path_.string(); }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
  std::string Path(std::string_view name) const { return (path_ / name).string(); }

  /// Names of the files with the extension `ext` (".kss"), sorted.
  std::vector<std::string> Files(std::string_view ext) const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_))
      if (e.path().extension() == ext) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  /// The bytes of a file in the directory; empty when it cannot be read.
  std::string Contents(std::string_view name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void Write(std::string_view name, std::string_view text) const {
    std::ofstream(path_ / name, std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  /// Writes `bytes` (a sample pass, say) to a file in the directory; its path.
  std::string WriteBytes(std::string_view name, std::span<const std::uint8_t> bytes) const {
    Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return (path_ / name).string();
  }

 private:
  static inline int next_ = 0;
  std::filesystem::path path_;
};

}  // namespace zevrin::testing
