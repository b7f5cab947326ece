#include "outputs/kiss_server/kiss_server.h"

#include "kiss/receive_path.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace zevrin {

namespace {

constexpr int kListenBacklog = 16;
// The longest wait without a wake: a client's first dropped frame is told by then.
constexpr int kIdlePollMs = 1000;
constexpr std::size_t kDiscardChunk = 4096;

std::string PeerText(const sockaddr_storage& address, socklen_t size) {
  char host[NI_MAXHOST];
  char port[NI_MAXSERV];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), size, host, sizeof host, port,
                    sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return "?";
  const std::string h = host;
  return (h.find(':') != std::string::npos ? "[" + h + "]" : h) + ":" + port;
}

// A bound and listening socket for `address`, or the reason there is none.
int ListenOn(const TcpAddress& address, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(address.port);
  if (const int rc = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = ::gai_strerror(rc);
    return -1;
  }
  int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // A restarted station takes its port back at once, while the old connections
  // linger; a port another program listens on stays refused.
  const int on = 1;
  if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd < 0 || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0 ||
      ::listen(fd, kListenBacklog) != 0) {
    error = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  ::freeaddrinfo(found);
  return fd;
}

// The frames, whole or begun, among bytes not yet sent: each frame ends in its
// own FEND (and begins with one), and no FEND lies within.
std::uint64_t FramesIn(std::span<const std::uint8_t> bytes) {
  const auto fends = static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), kFend));
  return (fends + 1) / 2;
}

}  // namespace

std::optional<TcpAddress> ParseListenAddress(std::string_view text) {
  const bool bare_port = !text.empty() && std::all_of(text.begin(), text.end(),
                                                      [](char c) { return c >= '0' && c <= '9'; });
  if (bare_port)
    return ParseTcpAddress(std::string(kKissServerDefaultHost) + ":" + std::string(text));
  return ParseTcpAddress(text);
}

// One connected program. `pending` and the counts are guarded by the server's
// mutex; `sending` and `sent` belong to the server's thread.
struct KissServer::Client {
  int fd = -1;
  std::string peer;
  std::vector<std::uint8_t> pending;  // whole frames not yet taken by the thread
  std::size_t queued = 0;             // bytes of pending and of sending not yet sent
  std::uint64_t dropped = 0;
  bool drop_told = false;
  std::vector<std::uint8_t> sending;
  std::size_t sent = 0;
};

KissServer::KissServer(KissServerOptions options, KissServerListener* listener)
    : options_(options), listener_(listener) {}

KissServer::~KissServer() { Stop(); }

std::optional<std::string> KissServer::Start(std::string_view address) {
  Stop();
  const std::optional<TcpAddress> parsed = ParseListenAddress(address);
  if (!parsed) {
    return "cannot serve KISS on '" + std::string(address) +
           "': not [HOST:]PORT with a port from 1 to 65535";
  }
  address_ = TcpAddressText(*parsed);
  std::string error;
  listener_fd_ = ListenOn(*parsed, error);
  if (listener_fd_ < 0) return "cannot serve KISS on " + address_ + ": " + error;
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  ::getsockname(listener_fd_, reinterpret_cast<sockaddr*>(&bound), &size);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) {
    error = std::strerror(errno);
    Stop();
    return "cannot serve KISS on " + address_ + ": " + error;
  }
  stopping_ = false;
  thread_ = std::thread([this] { Serve(); });
  return std::nullopt;
}

void KissServer::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
    thread_.join();
  }
  std::lock_guard lock(mutex_);
  for (const auto& client : clients_) {
    dropped_ += FramesIn(std::span(client->sending).subspan(client->sent)) +
                FramesIn(client->pending);
    ::close(client->fd);
  }
  clients_.clear();
  for (int* fd : {&listener_fd_, &wake_fd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  port_ = 0;
  drained_.notify_all();
}

bool KissServer::Drain(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return drained_.wait_for(lock, timeout, [this] {
    return std::all_of(clients_.begin(), clients_.end(),
                       [](const auto& c) { return c->queued == 0; });
  });
}

void KissServer::Offer(std::span<const std::uint8_t> frame) {
  if (frame.empty()) return;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || clients_.empty()) return;
    ++frames_;
    for (const auto& client : clients_) {
      if (client->queued + frame.size() > options_.client_buffer_bytes) {
        ++client->dropped;
        ++dropped_;
        wake = wake || !client->drop_told;  // its first drop is told at once
        continue;
      }
      client->pending.insert(client->pending.end(), frame.begin(), frame.end());
      client->queued += frame.size();
      wake = true;
    }
    // One wake for all the frames that come before the thread has run.
    wake = wake && !std::exchange(wake_pending_, true);
  }
  if (wake) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
  }
}

KissServerStatus KissServer::Status() const {
  std::lock_guard lock(mutex_);
  KissServerStatus status;
  status.listening = listener_fd_ >= 0;
  status.address = address_;
  status.clients = clients_.size();
  status.frames = frames_;
  status.dropped = dropped_;
  return status;
}

void KissServer::Tell(const std::string& text) {
  if (listener_ != nullptr) listener_->KissServerMessage(text);
}

void KissServer::Serve() {
  std::vector<pollfd> polled;
  std::vector<Client*> clients;
  std::vector<std::string> messages;
  for (;;) {
    polled.assign({{wake_fd_, POLLIN, 0}, {listener_fd_, POLLIN, 0}});
    clients.clear();
    messages.clear();
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      for (const auto& c : clients_) {
        // What came since the last send is taken whole, once the last is out.
        if (c->sent == c->sending.size() && !c->pending.empty()) {
          c->sending.swap(c->pending);
          c->pending.clear();
          c->sent = 0;
        }
        if (c->dropped > 0 && !std::exchange(c->drop_told, true)) {
          messages.push_back("KISS client " + c->peer +
                             " cannot keep up: the frames it has no room for are dropped");
        }
        const short events = c->sent < c->sending.size() ? POLLIN | POLLOUT : POLLIN;
        polled.push_back({c->fd, events, 0});
        clients.push_back(c.get());
      }
    }
    for (const std::string& text : messages) Tell(text);
    if (::poll(polled.data(), polled.size(), kIdlePollMs) < 0 && errno != EINTR) return;
    if (polled[0].revents != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wake_fd_, &count, sizeof count);
      std::lock_guard lock(mutex_);
      wake_pending_ = false;
    }
    if (polled[1].revents != 0) Accept();
    for (std::size_t i = 0; i < clients.size(); ++i) {
      const short events = polled[i + 2].revents;
      if (events == 0 || Exchange(*clients[i], events)) continue;
      std::unique_ptr<Client> gone;
      {
        std::lock_guard lock(mutex_);
        const auto at = std::find_if(clients_.begin(), clients_.end(),
                                     [&](const auto& c) { return c.get() == clients[i]; });
        gone = std::move(*at);
        clients_.erase(at);
        drained_.notify_all();
      }
      ::close(gone->fd);
      Tell("KISS client " + gone->peer + " left; " + std::to_string(gone->dropped) +
           " frame(s) dropped for it");
    }
  }
}

void KissServer::Accept() {
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  const int fd = ::accept4(listener_fd_, reinterpret_cast<sockaddr*>(&peer), &size,
                           SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return;  // gone before it was taken, or out of descriptors: next time
  if (options_.socket_buffer_bytes > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &options_.socket_buffer_bytes,
                 sizeof options_.socket_buffer_bytes);
  }
  auto client = std::make_unique<Client>();
  client->fd = fd;
  client->peer = PeerText(peer, size);
  std::size_t count = 0;
  {
    std::lock_guard lock(mutex_);
    if (clients_.size() < options_.clients_max) {
      clients_.push_back(std::move(client));
      count = clients_.size();
    }
  }
  if (client) {
    ::close(fd);
    Tell("KISS client " + client->peer + " refused: " + std::to_string(options_.clients_max) +
         " clients are served already");
    return;
  }
  Tell("KISS client " + PeerText(peer, size) + " connected (" + std::to_string(count) +
       " client(s))");
}

bool KissServer::Exchange(Client& c, short events) {
  if (events & POLLIN) {
    // Whatever a client sends is read and dropped: it is no TNC command.
    std::array<std::uint8_t, kDiscardChunk> discard;
    for (;;) {
      const ssize_t n = ::recv(c.fd, discard.data(), discard.size(), MSG_DONTWAIT);
      if (n == 0) return false;
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        return false;
      }
    }
  } else if (events & (POLLERR | POLLHUP | POLLNVAL)) {
    return false;
  }
  if ((events & POLLOUT) && c.sent < c.sending.size()) {
    const ssize_t n = ::send(c.fd, c.sending.data() + c.sent, c.sending.size() - c.sent,
                             MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    c.sent += static_cast<std::size_t>(n);
    std::lock_guard lock(mutex_);
    c.queued -= static_cast<std::size_t>(n);
    if (c.queued == 0) drained_.notify_all();
  }
  return true;
}

}  // namespace zevrin
