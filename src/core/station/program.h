#pragma once
// What a station program keeps for its whole run, and the road of a frame from
// the bytes of a receive notification to the monitor and the display-field store.

#include <cstdint>
#include <span>

#include "base/time_of_day.h"
#include "frames/frame_analysis.h"
#include "frames/monitor.h"
#include "kiss/receive_path.h"
#include "station/station.h"
#include "telemetry/display_fields.h"
#include "telemetry/telemetry_decoder.h"

namespace zevrin {

/// What outlives the main window and survives its restarts: the station's program
/// state (receive state, frame analysis, settings in memory, last-packet state), the
/// display-field store (emptied by each new main window) and the telemetry decoder
/// writing it.
struct ProgramState {
  explicit ProgramState(const Clock& program_clock) : clock(program_clock), station(clock) {}
  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;

  const Clock& clock;
  StationProgram station;
  DisplayFields fields;
  TelemetryDecoder decoder{fields};
};

/// The road of a frame from the bytes of a receive notification to the monitor
/// and the store: one receive path over the program's receive state, handing each
/// frame to the program's frame analysis (monitor entry, header decoding) and on
/// to its telemetry decoder. The monitor is attached for the pipeline's lifetime.
class FramePipeline {
 public:
  FramePipeline(ProgramState& program, ReceiveView& view, MonitorSink& monitor)
      : FramePipeline(program, view, &monitor) {}
  /// Without a monitor (null) nothing is shown and the header is decoded alone.
  FramePipeline(ProgramState& program, ReceiveView& view, MonitorSink* monitor);
  ~FramePipeline();
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  /// A receive notification with its bytes already read.
  void Receive(std::span<const std::uint8_t> bytes) { path_.Receive(bytes); }

  ReceivePath& path() { return path_; }
  FrameAnalysis& analysis() { return program_.station.analysis; }

 private:
  ProgramState& program_;
  MonitorSink* monitor_;
  ReceivePath path_;
};

}  // namespace zevrin
