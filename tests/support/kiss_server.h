#pragma once
// A KISS-over-TCP server for tests, on 127.0.0.1 at a free port, standing in for a
// software TNC; and checks of raw logs against the frames sent.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace zevrin::testing {

/// How many of `frames` the log holds, whole and in order from the first; -1 when it
/// holds anything else, such as a frame cut off within the log or a stray byte. After
/// a kill the log may end in the start of the next frame: the system checks for a
/// kill between the pages of one write, so that last write may be cut short (the
/// next opening of the log cuts it off). That tail is not counted.
inline long WholeFramesIn(const std::string& log,
                          const std::vector<std::vector<std::uint8_t>>& frames) {
  std::size_t at = 0;
  long n = 0;
  for (const auto& f : frames) {
    const std::string frame(f.begin(), f.end());
    if (log.compare(at, frame.size(), frame) != 0)  // a cut tail counts as none
      return log.size() - at < frame.size() && frame.starts_with(log.substr(at)) ? n : -1;
    at += frame.size();
    ++n;
  }
  return at == log.size() ? n : -1;
}

/// The frames one after the other, as the raw log should hold them.
inline std::string Concat(const std::vector<std::vector<std::uint8_t>>& frames) {
  std::string all;
  for (const auto& f : frames) all.append(f.begin(), f.end());
  return all;
}

/// Calls `done` every 10 ms until it returns true (true) or `timeout` has passed
/// (false). `done` is not called again after it returned true.
template <typename Fn>
bool WaitUntil(Fn done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (; std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    if (done()) return true;
  }
  return false;
}

/// Appends what socket `fd` has received to `got`, without waiting; its size.
inline std::size_t ReadAvailable(int fd, std::string& got) {
  char buffer[4096];
  for (ssize_t n; fd >= 0 && (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
    got.append(buffer, static_cast<std::size_t>(n));
  return got.size();
}

/// The address `port` of 127.0.0.1.
inline sockaddr_in Loopback(std::uint16_t port) {
  return {.sin_family = AF_INET,
          .sin_port = htons(port),
          .sin_addr = {htonl(INADDR_LOOPBACK)},
          .sin_zero = {}};
}

/// A client socket connected to 127.0.0.1:`port`, or -1. A `receive_buffer` other
/// than 0 is set before connecting (a small one fills at once).
inline int ConnectLoopback(std::uint16_t port, int receive_buffer = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receive_buffer > 0)
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  sockaddr_in a = Loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  ::close(fd);
  return -1;
}

/// A socket listening on 127.0.0.1 at `port` (0: a free one, which `port` is set
/// to); -1 when the port is taken.
inline int ListenLoopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a = Loopback(port);
  socklen_t size = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}

class KissServer {
 public:
  /// Listens on 127.0.0.1 at `port`; 0 takes a free one.
  explicit KissServer(std::uint16_t port = 0) {
    if ((listener_ = ListenLoopback(port)) >= 0) port_ = port;
  }
  ~KissServer() { Stop(); }
  KissServer(const KissServer&) = delete;
  KissServer& operator=(const KissServer&) = delete;

  /// A port that nothing listens on right now.
  static std::uint16_t FreePort() {
    KissServer probe;
    return probe.port();
  }

  std::uint16_t port() const { return port_; }

  /// Waits up to `ms` for a client and takes it; true when one came.
  bool Accept(int ms) {
    pollfd p{listener_, POLLIN, 0};
    if (listener_ < 0 || ::poll(&p, 1, ms) != 1) return false;
    CloseClient();
    client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    return client_ >= 0;
  }

  /// Sends all bytes to the client.
  bool Send(std::span<const std::uint8_t> bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  /// How many bytes the client has sent so far, without waiting.
  std::size_t BytesFromClient() { return ReadAvailable(client_, from_client_); }

  void CloseClient() {
    if (client_ >= 0) ::close(client_);
    client_ = -1;
  }
  /// Closes the client and the listener: the port refuses connections.
  void Stop() {
    CloseClient();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }

 private:
  int listener_ = -1;
  int client_ = -1;
  std::uint16_t port_ = 0;
  std::string from_client_;
};

}  // namespace zevrin::testing
