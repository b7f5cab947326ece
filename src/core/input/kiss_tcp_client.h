#pragma once
// A KISS-over-TCP client on POSIX sockets for the decode tool: connects, keeps the
// connection up with the same rule as the desktop program (an attempt every 3 s,
// one message per outage) and never sends a byte.

#include <netdb.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "input/live_source.h"
#include "input/tcp_link.h"

namespace zevrin {

class KissTcpClient final : public LiveSource {
 public:
  /// `events` must outlive this object. Nothing happens before the first Read.
  KissTcpClient(const TcpAddress& address, LiveSourceEvents& events);
  ~KissTcpClient() override;
  KissTcpClient(const KissTcpClient&) = delete;
  KissTcpClient& operator=(const KissTcpClient&) = delete;

  /// Connects when needed, again after each failure or loss, and returns the next
  /// bytes. Never kFailed: a TCP source only ends when stopped.
  long Read(std::span<std::uint8_t> buffer, int stop_fd) override;

  bool connected() const { return schedule_.connected(); }
  bool up() const override { return connected(); }

 private:
  struct AddressListFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
  };

  // Starts connecting to the next address of the current attempt; resolves the
  // host first when the attempt is new. False when no address is left to try.
  bool ConnectNext(std::string& reason);
  void StartAttempt();
  // Closes the socket, drops the frame in progress and tells an outage's start.
  void Fail(const std::string& reason);
  void CloseSocket();

  TcpAddress address_;
  LiveSourceEvents& events_;
  ReconnectSchedule schedule_;
  std::unique_ptr<addrinfo, AddressListFree> addresses_;
  const addrinfo* next_address_ = nullptr;
  int fd_ = -1;
  bool connecting_ = false;
  bool attempting_ = false;
  std::int64_t attempt_deadline_ms_ = 0;
};

}  // namespace zevrin
