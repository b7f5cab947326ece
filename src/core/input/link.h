#pragma once
// What the station needs of any link to the TNC: a serial port or a KISS-over-TCP
// connection.

#include <cstdint>
#include <vector>

namespace zevrin {

/// A byte link to the TNC.
class Link {
 public:
  virtual ~Link() = default;

  /// True only while bytes can arrive.
  virtual bool IsOpen() const = 0;
  virtual void Close() = 0;

  /// All bytes waiting, in the order they arrived; possibly none.
  virtual std::vector<std::uint8_t> ReadAll() = 0;

  /// Queues one byte for sending. Callers check IsOpen() first.
  virtual void WriteByte(std::uint8_t byte) = 0;
};

}  // namespace zevrin
