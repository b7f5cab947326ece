#include "kiss/receive_path.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zevrin {

namespace {

struct CommEvent {
  std::int16_t code;
  const char* text;
};

constexpr CommEvent kCommEvents[] = {
    {1, "There are characters in the transmit buffer."},
    {3, "Change in the CTS line."},
    {4, "Change in the DSR line."},
    {5, "Change in the CD line."},
    {6, "Ring Indicator"},
    {1001, "A Break was received."},
    {1002, "CTS Timeout."},
    {1003, "DSR Timeout."},
    {1004, "Framing Error"},
    {1006, "Data Lost"},
    {1007, "CD (RLSD) Timeout."},
    {1008, "Receive Buffer Overflow"},
    {1009, "Parity Error"},
    {1010, "Transmit Buffer full"},
    {1011, "Unexpected error retrieving DCB"},
};

}  // namespace

const char* CommEventText(std::int16_t code) {
  for (const CommEvent& e : kCommEvents) {
    if (e.code == code) return e.text;
  }
  return nullptr;
}

std::string ReceiveCounterText(std::int32_t byte_count, std::int16_t frame_count) {
  std::string text = std::to_string(byte_count);
  text += " Bytes received (";
  text += std::to_string(static_cast<std::int32_t>(frame_count) + 1);
  text += " Frames)";
  return text;
}

void ReceivePath::OpenPort(SerialPort& port, std::int16_t port_number,
                           const std::string& settings) {
  port.SetPortNumber(port_number);
  port.SetSettings(settings);
  port.SetBinaryInput();
  AbandonFrame();
  if (!port.IsOpen()) port.Open();
}

void ReceivePath::AbandonFrame() {
  state_.in_frame = false;
  state_.overflow = false;
  state_.frame_length = 0;
}

void ReceivePath::PortEvent(std::int16_t code, Link& link) {
  if (code == kCommEventReceive) {
    const std::vector<std::uint8_t> bytes = link.ReadAll();
    Receive(bytes);
    return;
  }
  if (const char* text = CommEventText(code)) view_.SetStatusText(text);
}

void ReceivePath::Receive(std::span<const std::uint8_t> bytes) {
  view_.SetStatusText("");
  // The counter wraps to 0 after its top value instead of overflowing.
  constexpr std::int64_t kByteCountRange =
      std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  state_.byte_count = static_cast<std::int32_t>(
      (static_cast<std::int64_t>(state_.byte_count) + static_cast<std::int64_t>(bytes.size())) %
      kByteCountRange);
  view_.SetReceiveCounterText(ReceiveCounterText(state_.byte_count, state_.frame_count));
  Assemble(bytes);
}

void ReceivePath::ClearCounters() {
  state_.byte_count = 0;
  state_.frame_count = 0;
}

void ReceivePath::OpenFrame() {
  state_.in_frame = true;
  state_.overflow = false;
  state_.frame_length = 1;
  state_.frame_buffer[0] = kFend;
}

void ReceivePath::CloseFrame() {
  state_.frame_count = state_.frame_count == std::numeric_limits<std::int16_t>::max()
                           ? std::int16_t{0}
                           : static_cast<std::int16_t>(state_.frame_count + 1);
  state_.last_frame_time = clock_.Now().seconds;
}

void ReceivePath::Assemble(std::span<const std::uint8_t> bytes) {
  ReceiveState& s = state_;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t b = bytes[i];
    if (!s.in_frame) {
      if (b == kFend) {
        OpenFrame();
      } else {
        // A byte outside any frame (a TNC in command mode, line noise) is stored,
        // counted as a closing and dropped.
        s.frame_buffer[0] = b;
        s.frame_length = 1;
        CloseFrame();
        s.frame_length = 0;
      }
      continue;
    }
    if (b != kFend) {
      // The run of ordinary bytes up to the next FEND, in one go: most of a frame
      // is payload.
      const std::uint8_t* run = bytes.data() + i;
      const std::size_t left = bytes.size() - i;
      const void* fend = std::memchr(run, kFend, left);
      const std::size_t length =
          fend != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(fend) - run)
                          : left;
      if (!s.overflow) {
        const auto room = static_cast<std::size_t>(kFrameBufferSize - s.frame_length);
        const std::size_t n = std::min(length, room);
        std::memcpy(s.frame_buffer.data() + s.frame_length, run, n);
        s.frame_length = static_cast<std::int16_t>(s.frame_length + n);
        // Too long for the buffer: abandon the frame and drop all up to the next FEND.
        if (length > room) s.overflow = true;
      }
      i += length - 1;
      continue;
    }
    // A FEND while a frame is open.
    if (s.frame_length == 1 && !s.overflow) continue;  // back-to-back FENDs are one delimiter
    CloseFrame();
    if (!s.overflow && s.frame_length < kFrameBufferSize) {
      s.frame_buffer[s.frame_length] = kFend;
      s.frame_length = static_cast<std::int16_t>(s.frame_length + 1);
      if (s.frame_length >= 3) {
        const std::span<const std::uint8_t> frame(s.frame_buffer.data(),
                                                  static_cast<std::size_t>(s.frame_length));
        if (log_ != nullptr) log_->AppendFrame(frame);
        if (handler_ != nullptr) handler_->HandOver(frame, s);
      }
    }
    // The closing FEND opens the next frame at once.
    OpenFrame();
  }
}

}  // namespace zevrin
