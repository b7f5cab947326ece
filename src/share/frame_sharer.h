#pragma once
// Puts every frame of the satellite into the share queue as it is received, and
// tells the sender to look at the queue.

#include <memory>
#include <string>

#include "frames/frame_analysis.h"
#include "share/share_queue.h"
#include "share/share_sender.h"
#include "share/share_settings.h"

namespace zevrin {

class FrameSharer {
 public:
  /// `queue` and `sender` must outlive this object; `sender` may be null.
  FrameSharer(ShareQueue& queue, ShareSender* sender) : queue_(queue), sender_(sender) {}

  /// The settings in force from the next frame on.
  void Configure(const ShareSettings& settings) { settings_ = settings; }
  const ShareSettings& settings() const { return settings_; }

  /// Queues the frame for every server when sharing is on and the frame is the
  /// satellite's. Returns false only when queueing failed (see queue().error()).
  bool Offer(const UnescapedFrame& frame, const FrameHeader& header, UtcInstant received);

  ShareQueue& queue() { return queue_; }

 private:
  ShareQueue& queue_;
  ShareSender* sender_;
  ShareSettings settings_;
};

/// A satellite decoder that runs another decoder, then offers the frame for
/// sharing, stamped with the clock's time (the frame has just been received).
class SharingDecoder final : public SatelliteDecoder {
 public:
  SharingDecoder(SatelliteDecoder* next, FrameSharer& sharer, const Clock& clock)
      : next_(next), sharer_(sharer), clock_(clock) {}
  void DecodeSatelliteFrame(const UnescapedFrame& frame, const FrameHeader& header) override;

 private:
  SatelliteDecoder* next_;
  FrameSharer& sharer_;
  const Clock& clock_;
};

}  // namespace zevrin
