#pragma once
// A raw log that keeps each frame's reception time: a KISS time-stamp frame
// before every frame, so a replay of the log gives the frames their true times.

#include <cstdint>
#include <span>
#include <vector>

#include "base/time_of_day.h"
#include "kiss/receive_path.h"

namespace zevrin {

/// Writes each frame to the raw log behind it with a time-stamp frame (the
/// clock's reading) before it, both in one append. A time-stamp frame received
/// is logged as it came, and the frame after it without a stamp of ours, so the
/// time it carries stays the one a replay takes.
class StampedRawLog final : public RawLog {
 public:
  /// `log` and `clock` must outlive this object.
  StampedRawLog(RawLog& log, const Clock& clock) : log_(log), clock_(clock) {}

  bool AppendFrame(std::span<const std::uint8_t> frame) override;

 private:
  RawLog& log_;
  const Clock& clock_;
  bool after_stamp_ = false;  // the frame logged last was a time-stamp frame
  std::vector<std::uint8_t> buffer_;
};

}  // namespace zevrin
