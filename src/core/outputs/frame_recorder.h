#pragma once
// Puts the frame sinks behind the receive path of a station.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/time_of_day.h"
#include "frames/frame_analysis.h"
#include "outputs/frame_sink.h"

namespace zevrin {

/// Sits between the receive path and the frame analysis: for each frame it
/// starts the store's journal, hands the frame to the analysis (monitor, header,
/// satellite decoder), then tells every sink what the frame was, when it came
/// and what it wrote. The time is the clock's reading after the decoding, or the
/// one of a KISS time-stamp frame just before: the monitor shows that frame as
/// any other, but the sinks only see the time it gives the next frame.
class FrameRecorder final : public FrameHandler {
 public:
  /// The references must outlive this object; `decoder` writes `fields`.
  FrameRecorder(FrameAnalysis& analysis, const TelemetryDecoder& decoder, DisplayFields& fields,
                const Clock& clock)
      : analysis_(analysis), decoder_(decoder), fields_(fields), clock_(clock) {}

  /// The station label and link name given to the sinks.
  void SetSource(std::string station, std::string link) {
    station_ = std::move(station);
    link_ = std::move(link);
  }
  /// Sinks are told in the order they were added; each must outlive this object
  /// or be removed.
  void AddSink(FrameSink* sink) { sinks_.push_back(sink); }
  void RemoveSink(FrameSink* sink) { std::erase(sinks_, sink); }
  /// Times every frame before the sinks see it; null for none.
  void SetTimer(FrameTimer* timer) { timer_ = timer; }

  /// The next frame was received at `ms` (from a capture, or a time stamp):
  /// it is given that time instead of the clock's. A time before 1990 or more
  /// than a day after the clock's is not taken.
  void SetNextFrameTime(std::int64_t ms, TimeSource source);
  /// No time is waiting for the next frame any more: the time stamp or packet
  /// that set it was not followed by a frame of the same stream.
  void ForgetNextFrameTime() { next_time_.reset(); }

  void HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) override;

 private:
  FrameAnalysis& analysis_;
  const TelemetryDecoder& decoder_;
  DisplayFields& fields_;
  const Clock& clock_;
  std::string station_;
  std::string link_;
  std::vector<FrameSink*> sinks_;
  FrameTimer* timer_ = nullptr;
  struct NextTime {
    std::int64_t ms;
    TimeSource source;
  };
  std::optional<NextTime> next_time_;  // for the next frame, from a time stamp
};

}  // namespace zevrin
