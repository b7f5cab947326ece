#pragma once
// The raw log file: every complete frame as received, one after another, so the
// file stays a valid KISS byte stream.

#include <cstdint>
#include <span>
#include <string>

#include "link/receive_path.h"

namespace zevrin {

/// Appends frames to a file. Each frame goes to the operating system in a single
/// write, so a crash of the program never loses or cuts a frame already handed
/// over. An existing file is appended to, never overwritten.
class FileRawLog final : public RawLog {
 public:
  FileRawLog() = default;
  ~FileRawLog() override;
  FileRawLog(const FileRawLog&) = delete;
  FileRawLog& operator=(const FileRawLog&) = delete;

  /// Opens (creating when needed) the file for appending. Returns false and keeps
  /// the reason in error() when it cannot.
  bool Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  /// Closes the file; with `delete_if_empty` a file that holds no bytes is removed.
  /// Returns false and keeps the reason in error() when a step fails.
  bool Close(bool delete_if_empty);

  bool AppendFrame(std::span<const std::uint8_t> frame) override;

  const std::string& path() const { return path_; }
  /// Description of the last failure, empty when there was none.
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::string path_;
  std::string error_;
};

}  // namespace zevrin
