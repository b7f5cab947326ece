#include "outputs/frame_recorder.h"

namespace zevrin {

void FrameRecorder::HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) {
  fields_.BeginFrame();
  analysis_.HandOver(frame, state);
  if (sinks_.empty()) return;
  const UtcInstant now = clock_.Now();
  DecodedFrame decoded;
  decoded.bytes = frame;
  decoded.received_ms = ToUtcMillis(now);
  decoded.station = station_;
  decoded.link = link_;
  decoded.header = &analysis_.header();
  decoded.unescaped = &analysis_.unescaped();
  decoded.from_satellite = decoder_.last_was_satellite();
  decoded.record = decoder_.last_record();
  decoded.fields = &fields_;
  for (FrameSink* sink : sinks_) sink->FrameDecoded(decoded);
}

}  // namespace zevrin
