#pragma once
// A pseudo-terminal pair for tests: the test writes and reads at the master side,
// the code under test opens the slave device like a serial port.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zevrin::testing {

class Pty {
 public:
  Pty() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    char name[128];
    termios tio{};
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
        ::ptsname_r(master_, name, sizeof name) == 0 && ::tcgetattr(master_, &tio) == 0) {
      slave_path_ = name;
      // Raw mode, so the line discipline changes no byte before the port sets its own.
      ::cfmakeraw(&tio);
      ::tcsetattr(master_, TCSANOW, &tio);
    }
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return !slave_path_.empty(); }
  const std::string& slave_path() const { return slave_path_; }

  /// Writes all bytes to the master side (blocking while the slave's buffer is full).
  bool Write(std::span<const std::uint8_t> bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  /// Appends what the slave side has sent so far to `out`, without waiting; returns
  /// the size of `out`.
  std::size_t ReadInto(std::vector<std::uint8_t>& out) {
    pollfd p{master_, POLLIN, 0};
    std::uint8_t buffer[256];
    ssize_t n = 0;
    while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) && (n = ::read(master_, buffer, 256)) > 0)
      out.insert(out.end(), buffer, buffer + n);
    return out.size();
  }

  /// Closes the master side: for the slave's user the device has hung up.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_;
  std::string slave_path_;
};

}  // namespace zevrin::testing
