#include "share/frame_sharer.h"

namespace zevrin {

bool FrameSharer::Offer(const UnescapedFrame& frame, const FrameHeader& header,
                        UtcInstant received) {
  if (SharingOffReason(settings_) || !IsSharedFrame(frame, header)) return true;
  std::vector<std::string> urls;
  for (const ShareServer& server : settings_.servers) urls.push_back(server.url);
  const std::string form = SidsForm(settings_.station, received, SidsFrameHex(frame));
  const bool queued = queue_.Enqueue(SidsTimestamp(received), form, urls);
  if (queued && sender_ != nullptr) sender_->Wake();
  return queued;
}

void SharingDecoder::DecodeSatelliteFrame(const UnescapedFrame& frame, const FrameHeader& header) {
  if (next_ != nullptr) next_->DecodeSatelliteFrame(frame, header);
  sharer_.Offer(frame, header, clock_.Now());
}

}  // namespace zevrin
