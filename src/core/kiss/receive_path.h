#pragma once
// The receive path: every byte from the TNC enters here. It counts the bytes,
// cuts the stream into KISS frames at their FEND bytes, logs each complete frame
// and hands it on for display and decoding.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/time_of_day.h"
#include "input/serial_port.h"

namespace zevrin {

inline constexpr std::uint8_t kFend = 0xC0;
inline constexpr int kFrameBufferSize = 512;

/// Serial notification codes the receive path acts on.
inline constexpr std::int16_t kCommEventReceive = 2;

/// Receive state: one instance for the whole run of the program; it survives a
/// restart of the main window.
struct ReceiveState {
  /// The frame being assembled or just completed, as received (escapes included).
  /// Position p (1 to 512) is frame_buffer[p - 1].
  std::array<std::uint8_t, kFrameBufferSize> frame_buffer{};
  /// Bytes in frame_buffer; 0 while no frame is open.
  std::int16_t frame_length = 0;
  /// True from an opening FEND on. After a closing FEND the same FEND opens the next
  /// frame, so this stays true until OpenPort resets the assembly.
  bool in_frame = false;
  /// True while the bytes of a frame that outgrew frame_buffer are being dropped.
  bool overflow = false;
  /// Bytes received since program start or the last "&Clear"; wraps to 0 after
  /// its top value.
  std::int32_t byte_count = 0;
  /// Frame closings since program start or the last "&Clear"; wraps likewise.
  std::int16_t frame_count = 0;
  /// UTC time of the last frame closing, in seconds since 1970.
  std::int64_t last_frame_time = 0;
};

/// Receives the status-bar and receive-counter texts of the receive path.
class ReceiveView {
 public:
  virtual ~ReceiveView() = default;
  virtual void SetStatusText(std::string_view text) = 0;
  virtual void SetReceiveCounterText(std::string_view text) = 0;
};

/// Destination of the complete frames, byte for byte as received.
class RawLog {
 public:
  virtual ~RawLog() = default;
  /// Appends one complete frame in one piece. Returns false when it was not written.
  virtual bool AppendFrame(std::span<const std::uint8_t> frame) = 0;
};

/// Called once per complete frame of 3 bytes or more, after the raw log write.
class FrameHandler {
 public:
  virtual ~FrameHandler() = default;
  /// `frame` is frame_buffer positions 1 to frame_length; `state` may be updated
  /// (ShowFrame sets last_frame_time).
  virtual void HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) = 0;
};

/// The status-bar text for a serial notification code, or nullptr for a code the
/// receive path ignores (and for code 2, which empties the status bar).
const char* CommEventText(std::int16_t code);

/// The receive-counter label: byte_count, " Bytes received (", frame_count + 1,
/// " Frames)".
std::string ReceiveCounterText(std::int32_t byte_count, std::int16_t frame_count);

class ReceivePath {
 public:
  /// `log` and `handler` may be null (nothing logged / nothing handed on).
  ReceivePath(ReceiveState& state, const Clock& clock, ReceiveView& view)
      : state_(state), clock_(clock), view_(view) {}

  void SetRawLog(RawLog* log) { log_ = log; }
  void SetFrameHandler(FrameHandler* handler) { handler_ = handler; }

  /// Sets port number and line settings, switches to raw input, abandons any frame
  /// in progress and opens the port if it is not open yet.
  void OpenPort(SerialPort& port, std::int16_t port_number, const std::string& settings);

  /// Drops the frame in progress: the stream it came from has broken off (a TCP
  /// connection ended), and its bytes must never be joined to those of the next.
  void AbandonFrame();

  /// Entry for a link notification. For code 2 it reads the waiting bytes from
  /// `link`; every other code only shows its status-bar text.
  void PortEvent(std::int16_t code, Link& link);

  /// Code 2 with the given bytes already read: empties the status bar, counts the
  /// bytes, shows the receive counter and assembles the bytes.
  void Receive(std::span<const std::uint8_t> bytes);

  /// Assembles bytes into frames without touching the status bar or the labels.
  void Assemble(std::span<const std::uint8_t> bytes);

  /// "&Clear": counters to 0; the frame assembly is left alone.
  void ClearCounters();

  const ReceiveState& state() const { return state_; }

 private:
  void CloseFrame();
  void OpenFrame();

  ReceiveState& state_;
  const Clock& clock_;
  ReceiveView& view_;
  RawLog* log_ = nullptr;
  FrameHandler* handler_ = nullptr;
};

}  // namespace zevrin
