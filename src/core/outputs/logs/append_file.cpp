#include "outputs/logs/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zevrin {

AppendFile::~AppendFile() { Close(false); }

bool AppendFile::Open(const std::string& path) { return OpenWith(path, O_WRONLY); }

bool AppendFile::OpenWith(const std::string& path, int access) {
  Close(false);
  path_ = path;
  fd_ = ::open(path.c_str(), access | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  error_.clear();
  return true;
}

bool AppendFile::OpenDelimited(const std::string& path, std::uint8_t delimiter) {
  if (!OpenWith(path, O_RDWR)) return false;  // read too, to look at the tail
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || st.st_size == 0) return true;
  // Look back from the end for the last delimiter; a frame is at most a few hundred
  // bytes, so the tail to search is short.
  constexpr off_t kLongestTail = 4096;
  const off_t start = st.st_size > kLongestTail ? st.st_size - kLongestTail : 0;
  std::uint8_t tail[kLongestTail];
  const ssize_t n = ::pread(fd_, tail, static_cast<std::size_t>(st.st_size - start), start);
  if (n <= 0 || tail[n - 1] == delimiter) return true;  // ends whole (or cannot tell)
  for (ssize_t i = n - 1; i >= 0; --i) {
    if (tail[i] == delimiter) {
      // The cut piece began with this delimiter.
      [[maybe_unused]] const int ignored = ::ftruncate(fd_, start + i);
      return true;
    }
  }
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
      out_of_space_ = n < 0 && (errno == ENOSPC || errno == EDQUOT);
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
