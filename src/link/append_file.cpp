#include "link/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zevrin {

AppendFile::~AppendFile() { Close(false); }

bool AppendFile::Open(const std::string& path) {
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

bool AppendFile::Close(bool delete_if_empty) {
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

bool AppendFile::Append(const void* data, std::size_t size) {
  if (fd_ < 0) return false;
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t left = size;
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? std::strerror(errno) : "nothing written";
      // Cut off the part that did reach the file, so it holds whole pieces only.
      if (left < size) {
        struct stat st {};
        if (::fstat(fd_, &st) == 0) {
          [[maybe_unused]] const int ignored =
              ::ftruncate(fd_, st.st_size - static_cast<off_t>(size - left));
        }
      }
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace zevrin
