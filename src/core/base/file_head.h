#pragma once
// Reading the beginning of a file that a person writes by hand, within a limit:
// a file of any size costs no more than the limit.

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace zevrin {

/// The first `limit` bytes of the file at `path`, and one more when the file is
/// longer (so the caller can tell). Nullopt when it cannot be read or is a folder.
inline std::optional<std::string> ReadFileHead(const std::string& path, std::size_t limit) {
  std::error_code ec;
  std::ifstream in(path, std::ios::binary);
  if (!in || std::filesystem::is_directory(path, ec)) return std::nullopt;
  std::string content(limit + 1, '\0');
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  if (in.bad()) return std::nullopt;
  content.resize(static_cast<std::size_t>(in.gcount()));
  return content;
}

}  // namespace zevrin
