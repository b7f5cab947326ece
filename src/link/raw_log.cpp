#include "link/raw_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zevrin {

FileRawLog::~FileRawLog() { Close(false); }

bool FileRawLog::Open(const std::string& path) {
  Close(false);
  path_ = path;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  error_.clear();
  return true;
}

bool FileRawLog::Close(bool delete_if_empty) {
  if (fd_ < 0) return true;
  bool ok = true;
  struct stat st {};
  const bool empty = ::fstat(fd_, &st) == 0 && st.st_size == 0;
  if (::close(fd_) != 0) {
    error_ = std::strerror(errno);
    ok = false;
  }
  fd_ = -1;
  if (delete_if_empty && empty && ::unlink(path_.c_str()) != 0) {
    error_ = std::strerror(errno);
    ok = false;
  }
  return ok;
}

bool FileRawLog::AppendFrame(std::span<const std::uint8_t> frame) {
  if (fd_ < 0) return false;
  const std::uint8_t* p = frame.data();
  std::size_t left = frame.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = std::strerror(errno);
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace zevrin
