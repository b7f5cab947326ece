#pragma once
// Reception times for frames read back from a recording, which holds no time per
// frame: the recording's start, then the line rate.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zevrin {

/// What a raw log's name tells: "Lab_03032010_1407.kss" was started by station
/// "Lab" at 14:07 UTC on 3 March 2010.
struct LogNameParts {
  std::string station_label;
  std::int64_t utc_seconds = 0;
};

/// The label and start minute from a raw log's file name (any directory before
/// it is ignored); none for a name of another form or an impossible date.
std::optional<LogNameParts> ParseLogFileName(std::string_view path);

/// A UTC time written "2010-03-03 14:07", "2010-03-03T14:07:30Z" or
/// "2010-03-03T14:07:30.250" (seconds and milliseconds optional, "T" or a blank,
/// an optional "Z"), as milliseconds since 1970; none when it is not one.
std::optional<std::int64_t> ParseUtcTime(std::string_view text);

/// Bits on the line per byte: a start bit, 8 data bits, a stop bit (8N1).
inline constexpr int kLineBitsPerByte = 10;

/// The time `bytes` bytes take on the line at `baud`, in whole milliseconds.
constexpr std::int64_t LineDurationMs(std::uint64_t bytes, int baud) {
  return static_cast<std::int64_t>(bytes * kLineBitsPerByte * 1000 /
                                   static_cast<std::uint64_t>(baud > 0 ? baud : 1));
}

/// The times of frames that follow one another at a line rate without gaps:
/// each frame has arrived when its last byte has, so the k-th frame arrives at
/// start + (bytes of frames 1 to k) x 10 bits / baud, in whole milliseconds. No
/// two frames get the same millisecond: a frame that would (short frames at a
/// high rate) gets the one after its predecessor's, so a recording's frames keep
/// distinct times and reading it again gives the same ones.
class LineRateTimes {
 public:
  LineRateTimes(std::int64_t start_ms, int baud)
      : start_ms_(start_ms), baud_(baud > 0 ? baud : 1) {}
  /// The arrival of the next frame, of `bytes` bytes, in milliseconds since 1970.
  std::int64_t Next(std::size_t bytes) {
    sent_bytes_ += bytes;
    last_ms_ = std::max(end_ms(), started_ ? last_ms_ + 1 : end_ms());
    started_ = true;
    return last_ms_;
  }
  /// The frames follow on after one at `ms`: none of them gets that millisecond
  /// or an earlier one. For a recording read after another of the same station.
  void FollowOn(std::int64_t ms) {
    last_ms_ = std::max(ms, started_ ? last_ms_ : ms);
    started_ = true;
  }
  /// The time of the last frame handed out; none before the first.
  std::optional<std::int64_t> last_ms() const {
    return started_ ? std::optional(last_ms_) : std::nullopt;
  }
  /// The time when everything handed to Next has arrived.
  std::int64_t end_ms() const { return start_ms_ + LineDurationMs(sent_bytes_, baud_); }

 private:
  std::int64_t start_ms_;
  int baud_;
  std::uint64_t sent_bytes_ = 0;
  std::int64_t last_ms_ = 0;
  bool started_ = false;
};

}  // namespace zevrin
