#pragma once
// KISS over TCP: the address a software TNC serves its KISS stream on, how line 1
// of the settings file names it, and the reconnection rule shared by the desktop
// program and the decode tool.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "input/link.h"

namespace zevrin {

/// Host and port of a KISS-over-TCP server.
struct TcpAddress {
  std::string host;  // a name, an IPv4 address or an IPv6 address (without brackets)
  std::uint16_t port = 0;
  bool operator==(const TcpAddress&) const = default;
};

/// The highest TCP port number.
inline constexpr unsigned kHighestTcpPort = 65535;

/// The two ports software TNCs commonly serve KISS on.
inline constexpr std::uint16_t kCommonKissPorts[] = {8001, 8100};

/// "HOST:PORT" or "[IPv6]:PORT", with a port from 1 to 65535. A host holding a
/// colon must be in brackets; blanks around the whole text are ignored. nullopt for
/// anything else.
std::optional<TcpAddress> ParseTcpAddress(std::string_view text);

/// The address typed into the setup dialog as host and port apart: blanks around
/// each are ignored, an IPv6 host may have its brackets, the port is a decimal
/// number from 1 to 65535. Checked as line 1 will be read back; nullopt otherwise.
std::optional<TcpAddress> ParseTcpEntry(std::string_view host, std::string_view port);

/// Why a host and port typed into the setup dialog make no address: the message
/// shown, naming both as typed.
std::string TcpEntryProblem(std::string_view host, std::string_view port);

/// "localhost:8001", or "[::1]:8001" for a host holding a colon.
std::string TcpAddressText(const TcpAddress& address);

/// True when line 1 of the settings file names a TCP link: it begins with "tcp:"
/// (either case). No serial line that opens a port begins so.
bool IsTcpSettingsLine(std::string_view settings_line);

/// The address of a "tcp:HOST:PORT" line; nullopt when the line is not one or its
/// address is malformed.
std::optional<TcpAddress> TcpSettingsAddress(std::string_view settings_line);

/// Line 1 for a TCP link: "tcp:localhost:8001", "tcp:[::1]:8001".
std::string TcpSettingsLine(const TcpAddress& address);

/// The port label: "TCP localhost:8001 connected" or "... not connected".
std::string TcpPortLabelText(const TcpAddress& address, bool connected);

/// Switches TCP keep-alive on for the socket `fd`, probing after 60 s of silence
/// every 10 s, 5 times: a peer that vanished without closing is noticed within two
/// minutes. Returns false when the system refused a setting.
bool EnableKeepAlive(int fd);

/// When to try connecting and what to tell the user. Attempts start at least
/// kRetryIntervalMs apart, so a server that refuses or drops every connection at
/// once never makes a busy loop; an attempt that has not connected after that long
/// is given up. An outage lasts from a failure until a connection has stayed up for
/// kRetryIntervalMs, and is told once however many attempts it takes: a server that
/// takes each connection and drops it at once gives one message, not one per try.
class ReconnectSchedule {
 public:
  static constexpr std::int64_t kRetryIntervalMs = 3000;

  explicit ReconnectSchedule(const TcpAddress& address);

  /// An attempt starts at `now_ms` (any steady millisecond count).
  void AttemptStarted(std::int64_t now_ms);
  /// Milliseconds until the next attempt may start; 0 when it may start now.
  std::int64_t DelayMs(std::int64_t now_ms) const;
  /// The attempt failed, or the connection ended, at `now_ms` for `reason`. Returns
  /// the message when this begins an outage; nullopt while an outage goes on.
  std::optional<std::string> Failed(std::string_view reason, std::int64_t now_ms);
  /// The connection is up at `now_ms`.
  void Connected(std::int64_t now_ms);
  /// Once the connection has stayed up for kRetryIntervalMs: the message that says
  /// it is connected (again), once per connection; nullopt before and after.
  std::optional<std::string> Confirm(std::int64_t now_ms);
  /// Milliseconds until Confirm has its message; -1 when it has none to come.
  std::int64_t ConfirmDelayMs(std::int64_t now_ms) const;
  bool connected() const { return connected_; }

 private:
  bool Lasting(std::int64_t now_ms) const {
    return connected_ && now_ms - connected_ms_ >= kRetryIntervalMs;
  }

  std::string name_;  // "KISS over TCP localhost:8001"
  std::optional<std::int64_t> last_attempt_ms_;
  std::int64_t connected_ms_ = 0;
  bool connected_ = false;
  bool confirmed_ = false;
  bool outage_ = false;
};

/// A KISS-over-TCP link of the desktop program. It only ever receives: nothing is
/// sent, so it can share a software TNC with other clients.
class TcpLink : public Link {
 public:
  /// Starts connecting to `address` and keeps the connection up, connecting again
  /// after every failure or loss, until Close().
  virtual void Connect(const TcpAddress& address) = 0;
};

}  // namespace zevrin
