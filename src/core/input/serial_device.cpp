#include "input/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace zevrin {

namespace {

struct SpeedEntry {
  long bits_per_second;
  speed_t constant;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
};

}  // namespace

std::optional<speed_t> TermiosSpeed(long bits_per_second) {
  for (const SpeedEntry& e : kSpeeds) {
    if (e.bits_per_second == bits_per_second) return e.constant;
  }
  return std::nullopt;
}

SerialDevice::~SerialDevice() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<std::string> SerialDevice::Open(const std::string& path, long speed) {
  const std::optional<speed_t> constant = TermiosSpeed(speed);
  if (!constant) return "unsupported speed " + std::to_string(speed);
  // Non-blocking, so neither the open nor a read waits for a carrier; reads wait in
  // poll instead.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::string(std::strerror(errno));
  std::optional<std::string> error;
  struct stat st {};
  termios tio{};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    error = "not a character device";
  } else if (::tcgetattr(fd, &tio) != 0) {
    error = std::string("not a serial device: ") + std::strerror(errno);
  } else {
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSTOPB | CRTSCTS);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, *constant) != 0 || ::cfsetospeed(&tio, *constant) != 0 ||
        ::tcsetattr(fd, TCSANOW, &tio) != 0) {
      error = std::string("cannot set the line: ") + std::strerror(errno);
    }
  }
  if (error) {
    ::close(fd);
    return error;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  path_ = path;
  return std::nullopt;
}

long SerialDevice::Read(std::span<std::uint8_t> buffer, int stop_fd) {
  if (fd_ < 0) return kFailed;
  for (;;) {
    pollfd p[2] = {{stop_fd, POLLIN, 0}, {fd_, POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) continue;  // interrupted: a stop shows in stop_fd
    if (p[0].revents != 0) return kStopped;
    if (p[1].revents == 0) continue;
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n > 0) return static_cast<long>(n);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    const std::string reason = n == 0 ? std::string("hung up") : std::strerror(errno);
    ::close(std::exchange(fd_, -1));
    events_.StreamBroken();
    events_.LinkMessage(path_ + ": " + reason + "; the device is closed");
    return kFailed;
  }
}

}  // namespace zevrin
