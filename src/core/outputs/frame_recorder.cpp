#include "outputs/frame_recorder.h"

#include "frames/kiss_frames.h"

namespace zevrin {

void FrameRecorder::SetNextFrameTime(std::int64_t ms, TimeSource source) {
  // An absurd time is dropped with any taken before: the frame gets the clock's.
  if (IsPlausibleFrameTime(ms, ToUtcMillis(clock_.Now()))) {
    next_time_ = NextTime{ms, source};
  } else {
    next_time_.reset();
  }
}

void FrameRecorder::HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) {
  fields_.BeginFrame();
  analysis_.HandOver(frame, state);
  if (const std::optional<std::int64_t> stamp = KissTimestamp(frame)) {
    // Of two stamps in a row the later one, nearer its frame, counts.
    SetNextFrameTime(*stamp, TimeSource::kKiss);
    for (FrameSink* sink : sinks_) sink->TimeStampReceived(frame);
    return;
  }
  if (sinks_.empty()) {
    next_time_.reset();
    return;
  }
  DecodedFrame decoded;
  decoded.bytes = frame;
  if (next_time_) {
    decoded.received_ms = next_time_->ms;
    decoded.time_source = next_time_->source;
    // The same recording read again gives the same time.
    decoded.replayed = true;
    next_time_.reset();
  } else {
    decoded.received_ms = ToUtcMillis(clock_.Now());
  }
  decoded.station = station_;
  decoded.link = link_;
  decoded.header = &analysis_.header();
  decoded.unescaped = &analysis_.unescaped();
  decoded.from_satellite = decoder_.last_was_satellite();
  decoded.record = decoder_.last_record();
  decoded.fields = &fields_;
  if (timer_ != nullptr) timer_->TimeFrame(decoded);
  for (FrameSink* sink : sinks_) sink->FrameDecoded(decoded);
}

}  // namespace zevrin
