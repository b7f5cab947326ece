#pragma once
// Reading the beginning of a file that a person writes by hand, within a limit:
// a file of any size costs no more than the limit.

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

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

/// A settings file read within a byte limit.
struct SettingsFileHead {
  /// The whole file, or when it is longer than the limit, the whole lines within it.
  std::string text;
  /// The start of the line the limit falls in, which is left out of `text`; empty
  /// when the limit falls right after a line break or the file is within it.
  std::string cut_line;
  /// True when the file is longer than the limit.
  bool cut = false;
};

/// Reads the settings file at `path`, of which at most `limit` bytes count: a line
/// that does not end within them is not whole and goes to `cut_line`. Nullopt
/// when the file cannot be read or is a folder.
inline std::optional<SettingsFileHead> ReadSettingsFileHead(const std::string& path,
                                                            std::size_t limit) {
  std::optional<std::string> head = ReadFileHead(path, limit);
  if (!head) return std::nullopt;
  SettingsFileHead file;
  file.text = std::move(*head);
  if (file.text.size() <= limit) return file;
  file.cut = true;
  file.text.resize(limit);
  const std::size_t last_break = file.text.rfind('\n');
  const std::size_t whole = last_break == std::string::npos ? 0 : last_break + 1;
  file.cut_line = file.text.substr(whole);
  file.text.resize(whole);
  return file;
}

}  // namespace zevrin
