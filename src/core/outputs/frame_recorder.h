#pragma once
// Puts the frame sinks behind the receive path of a station.

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
/// (the clock's reading after the decoding) and what it wrote.
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

  void HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) override;

 private:
  FrameAnalysis& analysis_;
  const TelemetryDecoder& decoder_;
  DisplayFields& fields_;
  const Clock& clock_;
  std::string station_;
  std::string link_;
  std::vector<FrameSink*> sinks_;
};

}  // namespace zevrin
