#pragma once
// The log files' common ground: a file that is only ever appended to, in whole
// pieces.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zevrin {

/// A file opened for appending. Each piece goes to the operating system in one
/// write, with no buffer of our own, so a crash of the program never loses a piece
/// already appended. A piece that reaches the file only in part (a full disk) is
/// cut off again, so the file holds whole pieces only. An existing file is
/// appended to, never overwritten.
class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  /// Opens (creating when needed) the file. Returns false and keeps the reason in
  /// error() when it cannot.
  bool Open(const std::string& path);
  /// Opens as above a file of pieces that each begin and end with `delimiter` (a
  /// KISS stream). A process killed while it wrote can leave a piece cut short at
  /// the end (the system checks for a kill between the pages of one write): such a
  /// tail, from its last delimiter on, is cut off, so what is appended next follows
  /// whole pieces.
  bool OpenDelimited(const std::string& path, std::uint8_t delimiter);
  bool IsOpen() const { return fd_ >= 0; }
  /// Closes the file; with `delete_if_empty` a file that holds no bytes is removed.
  /// Returns false and keeps the reason in error() when a step fails.
  bool Close(bool delete_if_empty);

  /// Appends the bytes whole, or nothing of them. Returns false and keeps the
  /// reason in error() when they were not written.
  bool Append(const void* data, std::size_t size);

  /// The path of the last Open, also after a failed one.
  const std::string& path() const { return path_; }
  /// Description of the last failure, empty when there was none.
  const std::string& error() const { return error_; }
  /// Whether the last failed Append found its file system full (or the quota used).
  bool out_of_space() const { return out_of_space_; }

 private:
  bool OpenWith(const std::string& path, int access);

  int fd_ = -1;
  std::string path_;
  std::string error_;
  bool out_of_space_ = false;
};

}  // namespace zevrin
