#include "input/kiss_tcp_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace zevrin {

namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

enum class Wait { kReady, kTimeout, kStopped };

// Waits up to `timeout_ms` (-1: without limit) for `events` on `fd` (none when fd
// is -1) or for `stop_fd` to become readable; a stop request wins.
Wait WaitFor(int fd, short events, int stop_fd, std::int64_t timeout_ms) {
  pollfd p[2] = {{stop_fd, POLLIN, 0}, {fd, events, 0}};
  const nfds_t count = fd >= 0 ? 2 : 1;
  const int timeout = timeout_ms < 0 ? -1 : static_cast<int>(timeout_ms);
  const int ready = ::poll(p, count, timeout);
  // An interrupted wait returns early; the caller looks again, and a stop signal
  // has made `stop_fd` readable by then.
  if (ready < 0) return Wait::kTimeout;
  if (p[0].revents != 0) return Wait::kStopped;
  return ready == 0 ? Wait::kTimeout : Wait::kReady;
}

}  // namespace

KissTcpClient::KissTcpClient(const TcpAddress& address, LiveSourceEvents& events)
    : address_(address), events_(events), schedule_(address) {}

KissTcpClient::~KissTcpClient() { CloseSocket(); }

void KissTcpClient::CloseSocket() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  connecting_ = false;
}

void KissTcpClient::Fail(const std::string& reason) {
  CloseSocket();
  addresses_.reset();
  next_address_ = nullptr;
  events_.StreamBroken();
  if (const std::optional<std::string> message = schedule_.Failed(reason, NowMs())) {
    events_.LinkMessage(*message);
  }
}

void KissTcpClient::StartAttempt() {
  const std::int64_t now = NowMs();
  schedule_.AttemptStarted(now);
  attempt_deadline_ms_ = now + ReconnectSchedule::kRetryIntervalMs;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string port = std::to_string(address_.port);
  const int error = ::getaddrinfo(address_.host.c_str(), port.c_str(), &hints, &list);
  if (error != 0) {
    Fail(::gai_strerror(error));
    return;
  }
  addresses_.reset(list);
  next_address_ = list;
  std::string reason = "no address";
  if (!ConnectNext(reason)) Fail(reason);
}

bool KissTcpClient::ConnectNext(std::string& reason) {
  while (next_address_ != nullptr) {
    const addrinfo* a = next_address_;
    next_address_ = a->ai_next;
    const int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      reason = std::strerror(errno);
      continue;
    }
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 || errno == EINPROGRESS) {
      fd_ = fd;
      connecting_ = true;  // the wait for writability below finishes the connect
      return true;
    }
    reason = std::strerror(errno);
    ::close(fd);
  }
  return false;
}

long KissTcpClient::Read(std::span<std::uint8_t> buffer, int stop_fd) {
  for (;;) {
    const std::int64_t now = NowMs();
    if (fd_ < 0) {
      const std::int64_t delay = schedule_.DelayMs(now);
      if (delay > 0) {
        if (WaitFor(-1, 0, stop_fd, delay) == Wait::kStopped) return kStopped;
        continue;
      }
      StartAttempt();
      continue;
    }

    if (connecting_) {
      const std::int64_t left = attempt_deadline_ms_ - now;
      if (left <= 0) {
        Fail("no answer within " + std::to_string(ReconnectSchedule::kRetryIntervalMs / 1000) +
             " s");
        continue;
      }
      const Wait wait = WaitFor(fd_, POLLOUT, stop_fd, left);
      if (wait == Wait::kStopped) return kStopped;
      if (wait == Wait::kTimeout) continue;
      int error = 0;
      socklen_t size = sizeof error;
      if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      if (error != 0) {
        // Refused on this address: the host's other addresses are tried first.
        std::string reason = std::strerror(error);
        CloseSocket();
        if (!ConnectNext(reason)) Fail(reason);
        continue;
      }
      connecting_ = false;
      addresses_.reset();
      next_address_ = nullptr;
      EnableKeepAlive(fd_);
      schedule_.Connected(now);
      continue;
    }

    // Connected: told once the connection has lasted, so a server that drops every
    // connection at once is not reported as connected each time.
    if (const std::optional<std::string> message = schedule_.Confirm(now)) {
      events_.LinkMessage(*message);
    }
    const Wait wait = WaitFor(fd_, POLLIN, stop_fd, schedule_.ConfirmDelayMs(now));
    if (wait == Wait::kStopped) return kStopped;
    if (wait == Wait::kTimeout) continue;
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n > 0) return static_cast<long>(n);
    if (n == 0) {
      Fail("closed by the server");
    } else if (errno != EINTR && errno != EAGAIN) {
      Fail(std::strerror(errno));
    }
  }
}

}  // namespace zevrin
