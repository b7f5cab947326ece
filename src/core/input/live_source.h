#pragma once
// A live byte stream from a TNC read without a window: a KISS-over-TCP connection
// or a serial device, waited on with poll so that a stop request ends any wait.

#include <cstdint>
#include <span>
#include <string_view>

namespace zevrin {

/// What a live source tells its user besides the bytes.
class LiveSourceEvents {
 public:
  virtual ~LiveSourceEvents() = default;
  /// A change of the link worth a line on standard error.
  virtual void LinkMessage(std::string_view text) = 0;
  /// The stream broke off (a connection ended): a frame begun before must be dropped.
  virtual void StreamBroken() = 0;
};

class LiveSource {
 public:
  virtual ~LiveSource() = default;
  /// Result of Read besides a byte count.
  static constexpr long kStopped = 0;  // `stop_fd` became readable
  static constexpr long kFailed = -1;  // the source ended for good (already told)

  /// Waits for bytes and puts them into `buffer`; returns their count, or kStopped
  /// or kFailed. The wait uses no CPU.
  virtual long Read(std::span<std::uint8_t> buffer, int stop_fd) = 0;

  /// True while bytes can come: the device is open, the connection stands.
  virtual bool up() const = 0;
};

}  // namespace zevrin
