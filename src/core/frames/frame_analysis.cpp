#include "frames/frame_analysis.h"

namespace zevrin {

void FrameAnalysis::HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) {
  bool decoded = false;
  if (monitor_ != nullptr) {
    const UtcInstant now = clock_.Now();
    ShowFrame(frame, options_, now, unescaped_, header_, *monitor_, dump_log_);
    state.last_frame_time = now.seconds;
    decoded = options_.analyze_frame;
  }
  // The decoding depends on the frame bytes alone, so a decoding that the decoded
  // view has just made is not repeated.
  if (!decoded) DecodeFrameHeader(frame, unescaped_, header_);
  if (decoder_ != nullptr) decoder_->DecodeSatelliteFrame(unescaped_, header_);
}

}  // namespace zevrin
