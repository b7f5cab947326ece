#include "outputs/logs/stamped_raw_log.h"

#include <utility>

#include "frames/kiss_frames.h"

namespace zevrin {

bool StampedRawLog::AppendFrame(std::span<const std::uint8_t> frame) {
  const bool stamp = KissTimestamp(frame).has_value();
  const bool stamped_already = std::exchange(after_stamp_, stamp);
  if (stamp || stamped_already) return log_.AppendFrame(frame);
  buffer_.clear();
  AppendKissTimestampFrame(buffer_, ToUtcMillis(clock_.Now()));
  buffer_.insert(buffer_.end(), frame.begin(), frame.end());
  return log_.AppendFrame(buffer_);
}

}  // namespace zevrin
