#pragma once
// Clock synchronisation with a TIME server (RFC 868 over TCP): the conversion of
// the server's four bytes into a clock record, and the handling of the socket's
// events with the status-bar texts that report each step.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/clock_setter.h"

namespace zevrin {

/// Used when the time-server setting is empty.
inline constexpr std::string_view kDefaultTimeServerHost = "time.nist.gov";
/// The TIME service's TCP port.
inline constexpr std::uint16_t kTimePort = 37;

/// Seconds from 1900-01-01 00:00:00 (the TIME protocol's origin) to 1990-01-01.
inline constexpr std::int64_t kSeconds1900To1990 = 2840140800;

/// A valid reply: the seconds count, four bytes.
inline constexpr std::size_t kValidReplySize = 4;
/// The reply buffer keeps no more than this many bytes: one more than a valid
/// reply. Once it holds that many the attempt ends at once, as an invalid reply.
inline constexpr std::size_t kReplyBufferLimit = kValidReplySize + 1;

/// An arrival's status text lists at most this many of its bytes, then "...".
inline constexpr std::size_t kListedArrivalBytes = 16;

/// The clock record for `seconds` since 1900-01-01 00:00:00 UTC, counted from
/// 1990-01-01 with a signed 32-bit offset; nullopt when the offset does not fit,
/// i.e. for a time before 1921-12-13 20:45:52. Day of week and milliseconds are 0.
std::optional<ClockRecord> ClockRecordFromSeconds(std::uint32_t seconds);

/// The status text of one data arrival: "data received: ", each listed byte as two
/// upper-case hex digits and a space, " (", `count`, " bytes)". `head` is the
/// arrival's first bytes; when `count` exceeds kListedArrivalBytes only that many
/// are listed, followed by "...".
std::string ArrivalText(std::span<const std::uint8_t> head, std::uint64_t count);

/// Where the clock synchronisation's progress is shown: the main window's status bar.
class StatusSink {
 public:
  virtual ~StatusSink() = default;
  /// Replaces the whole status-bar text.
  virtual void SetStatusText(std::string_view text) = 0;
};

/// The control side of the TCP socket that talks to the time server.
class TimeSocket {
 public:
  virtual ~TimeSocket() = default;
  virtual bool IsClosed() const = 0;
  /// Closes at once; must not report the close back as a server close.
  virtual void Close() = 0;
  /// Requests a connection; the outcome arrives later as an event.
  virtual void Connect(std::string_view host, std::uint16_t port) = 0;
};

/// One clock synchronisation attempt per Begin, driven by the socket's events.
/// Events that do not fit the current state (a stale close, data before the
/// connection) are ignored.
class TimeSync {
 public:
  enum class State { kIdle, kConnecting, kConnected, kFinished };

  /// The references must outlive this object.
  TimeSync(StatusSink& status, TimeSocket& socket, ClockSetter& setter,
           std::uint16_t port = kTimePort);

  /// Starts a new attempt with `host` (the default host when empty), closing a
  /// connection still open from an earlier attempt.
  void Begin(std::string_view host);
  void Connected();
  /// One arrival of `count` bytes, of which `head` holds the first
  /// min(count, kListedArrivalBytes) or more; the rest need not be kept. When more
  /// than four bytes have arrived in all, the connection is closed and the attempt
  /// ends like a server close with an invalid reply.
  void DataArrived(std::span<const std::uint8_t> head, std::uint64_t count);
  /// One arrival, all of its bytes at hand.
  void DataArrived(std::span<const std::uint8_t> bytes) { DataArrived(bytes, bytes.size()); }
  void ClosedByServer();
  /// `number` > 0 means the connection is over; 0 or less only reports it.
  void Error(int number, std::string_view description);

  State state() const { return state_; }
  const std::string& host() const { return host_; }
  /// The bytes kept of the reply so far (at most kReplyBufferLimit).
  std::span<const std::uint8_t> reply() const { return {reply_.data(), reply_size_}; }

 private:
  /// Closes the connection and sets the clock from the reply, if it is valid.
  void Finish();
  void SetClockFromReply();

  StatusSink& status_;
  TimeSocket& socket_;
  ClockSetter& setter_;
  std::uint16_t port_;
  State state_ = State::kIdle;
  std::string host_;
  std::array<std::uint8_t, kReplyBufferLimit> reply_{};
  std::size_t reply_size_ = 0;
};

}  // namespace zevrin
