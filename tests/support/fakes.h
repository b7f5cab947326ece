#pragma once
// Recording stand-ins for the interfaces the core reports through.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/clock_setter.h"
#include "base/time_of_day.h"
#include "frames/kiss_frames.h"
#include "frames/monitor.h"
#include "kiss/receive_path.h"

namespace zevrin::testing {

using Bytes = std::vector<std::uint8_t>;

class FixedClock final : public Clock {
 public:
  explicit FixedClock(UtcInstant now = {1245506709, 437}) : now_(now) {}
  UtcInstant Now() const override { return now_; }
  void Set(UtcInstant now) { now_ = now; }

 private:
  UtcInstant now_;
};

struct RecordingView final : ReceiveView {
  void SetStatusText(std::string_view text) override { status.emplace_back(text); }
  void SetReceiveCounterText(std::string_view text) override { counter.emplace_back(text); }
  std::vector<std::string> status;
  std::vector<std::string> counter;
};

/// Collects the frames it is given, as a raw log or as the frame handler.
struct FrameCollector final : RawLog, FrameHandler {
  bool AppendFrame(std::span<const std::uint8_t> frame) override {
    frames.emplace_back(frame.begin(), frame.end());
    return true;
  }
  void HandOver(std::span<const std::uint8_t> frame, ReceiveState&) override {
    frames.emplace_back(frame.begin(), frame.end());
  }
  std::vector<Bytes> frames;
};

struct RecordingMonitor final : MonitorSink {
  void AppendMonitorText(std::string_view text, ColourRole role) override {
    runs.emplace_back(std::string(text), role);
  }
  std::vector<std::pair<std::string, ColourRole>> runs;
};

/// The frames a receive path writes to its raw log for `stream`, in order, each whole.
inline std::vector<Bytes> LoggedFrames(std::span<const std::uint8_t> stream) {
  FixedClock clock;
  RecordingView view;
  FrameCollector log;
  ReceiveState state;
  ReceivePath path(state, clock, view);
  path.SetRawLog(&log);
  path.Assemble(stream);
  return log.frames;
}

/// `stream`'s frames, each after a KISS time-stamp frame of the time `time_of(k)`
/// gives the k-th frame (from 0).
template <typename TimeOf>
Bytes WithKissTimestamps(std::span<const std::uint8_t> stream, TimeOf time_of) {
  Bytes out;
  std::int64_t k = 0;
  for (const Bytes& frame : LoggedFrames(stream)) {
    AppendKissTimestampFrame(out, time_of(k++));
    out.insert(out.end(), frame.begin(), frame.end());
  }
  return out;
}

/// Never sets the clock: the program under test keeps its hands off this machine's time.
struct NoClockSetter final : ClockSetter {
  bool SetSystemTime(const ClockRecord&) override { return false; }
};

/// A serial port whose waiting bytes the test queues.
class FakePort final : public SerialPort {
 public:
  void SetPortNumber(std::int16_t port) override { port_ = port; }
  std::int16_t PortNumber() const override { return port_; }
  void SetSettings(const std::string& settings) override { settings_ = settings; }
  std::string Settings() const override { return settings_; }
  void SetBinaryInput() override {}
  void Open() override { open_ = openable; }
  std::optional<PortOpenFailure> OpenFailure() const override {
    return open_ ? std::nullopt : failure;
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  std::vector<std::uint8_t> ReadAll() override { return std::exchange(waiting, {}); }
  void WriteByte(std::uint8_t byte) override { written.push_back(byte); }

  Bytes waiting;
  Bytes written;
  bool openable = true;
  std::optional<PortOpenFailure> failure;  ///< reported while not open

 private:
  std::int16_t port_ = 1;
  std::string settings_ = "9600,N,8,1";
  bool open_ = false;
};

}  // namespace zevrin::testing
