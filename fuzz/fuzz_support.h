#pragma once
// What the fuzz targets share: a fixed clock, a failed property that stops the
// run with what was wrong, and a scratch file for parsers that read files.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/time_of_day.h"

namespace zevrin::fuzz {

/// 2009-06-20 14:05:09.437 UTC, whatever the machine's clock says.
inline constexpr std::int64_t kFixedMs = 1245506709437;

class FixedClock final : public Clock {
 public:
  UtcInstant Now() const override { return {kFixedMs / 1000, static_cast<int>(kFixedMs % 1000)}; }
};

/// Stops the run when a property does not hold: libFuzzer keeps the input.
[[noreturn]] inline void Violated(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "property violated: %s %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

inline void Require(bool holds, const char* what, std::string_view detail = {}) {
  if (!holds) Violated(what, detail);
}

/// A file of this process in the temporary folder (TMPDIR), else in memory
/// (/dev/shm) where there is such a folder, else in /tmp; removed at exit. Keep
/// it in memory: on a disk each rewrite may wait for the disk, a hundred times
/// slower.
class ScratchFile {
 public:
  explicit ScratchFile(std::string_view name) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp != nullptr && *tmp != '\0'    ? tmp
                            : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                              : "/tmp";
    path_ = dir + "/zevrin-fuzz-" + std::to_string(::getpid()) + "-" + std::string(name);
  }
  ~ScratchFile() { Remove(); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }

  /// Replaces the file's content; false when it could not be written.
  bool Write(std::string_view bytes) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
  }
  /// Removes the file and the files SQLite keeps beside it.
  void Remove() const {
    for (const char* suffix : {"", "-wal", "-shm", "-journal", ".new"}) {
      std::remove((path_ + suffix).c_str());
    }
  }

 private:
  std::string path_;
};

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace zevrin::fuzz
