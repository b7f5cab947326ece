#pragma once
// A serial device read without a window, for the decode tool: opened in raw mode
// at a given speed, read until it hangs up. Never written to.

#include <termios.h>

#include <optional>
#include <span>
#include <string>

#include "input/live_source.h"

namespace zevrin {

inline constexpr int kDefaultSerialSpeed = 9600;

/// The termios speed constant of `bits_per_second`; nullopt for a speed the
/// system has no constant for.
std::optional<speed_t> TermiosSpeed(long bits_per_second);

class SerialDevice final : public LiveSource {
 public:
  /// `events` must outlive this object.
  explicit SerialDevice(LiveSourceEvents& events) : events_(events) {}
  ~SerialDevice() override;
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  /// Opens `path` (a device, or a link to one such as "com1") in raw mode, 8 data
  /// bits, no parity, one stop bit, no flow control, at `speed`. Returns the reason
  /// when it cannot, nullopt on success.
  std::optional<std::string> Open(const std::string& path, long speed);

  /// The next bytes; kFailed (told) when the device hung up or failed.
  long Read(std::span<std::uint8_t> buffer, int stop_fd) override;
  bool up() const override { return fd_ >= 0; }

 private:
  LiveSourceEvents& events_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace zevrin
