#include "outputs/export/output_buffer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace zevrin {

OutputBuffer::OutputBuffer(std::FILE* out) : out_(out), out_fd_(::fileno(out)) {
  // The text bypasses the stream's buffer, so what is in it goes out first.
  if (out_fd_ >= 0 && std::fflush(out_) != 0) write_error_ = errno;
}

OutputBuffer::~OutputBuffer() { WriteOut(); }

void OutputBuffer::Flush() {
  WriteOut();
  ThrowIfFailed();
}

void OutputBuffer::ThrowIfFailed() const {
  if (write_error_ != 0) {
    throw OutputError(std::string("cannot write output: ") + std::strerror(write_error_));
  }
}

void OutputBuffer::WriteOut() {
  const char* p = text_.data();
  std::size_t left = write_error_ == 0 ? text_.size() : 0;  // after a failure: dropped
  text_.clear();
  if (out_fd_ < 0) {
    // A stream without a descriptor (in memory): through the stream itself.
    if ((left > 0 && std::fwrite(p, 1, left, out_) != left) || std::fflush(out_) != 0) {
      write_error_ = errno != 0 ? errno : EIO;
    }
    return;
  }
  while (left > 0) {
    const ssize_t n = ::write(out_fd_, p, left);
    if (n > 0) {
      p += n;
      left -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A descriptor in non-blocking mode: wait until it takes more.
      pollfd writable{out_fd_, POLLOUT, 0};
      ::poll(&writable, 1, -1);
    } else {
      write_error_ = n < 0 ? errno : EIO;
      return;
    }
  }
}

}  // namespace zevrin
