#include "frames/kiss_frames.h"

#include <array>

#include "frames/frame_header.h"
#include "kiss/receive_path.h"

namespace zevrin {

namespace {

// A time-stamp frame as received: FEND, command, eight bytes each escaped at
// most once (two bytes), FEND.
constexpr std::size_t kShortestStamp = 2 + kKissTimestampBytes + 1;
constexpr std::size_t kLongestStamp = 2 + 2 * kKissTimestampBytes + 1;

}  // namespace

std::optional<std::int64_t> KissTimestamp(std::span<const std::uint8_t> frame) {
  if (frame.size() < kShortestStamp || frame.size() > kLongestStamp ||
      frame[1] != kKissTimestampCommand) {
    return std::nullopt;
  }
  UnescapedFrame u;
  Unescape(frame, u);
  // FEND, command, the time, FEND.
  if (static_cast<std::size_t>(u.unescaped_length) != kShortestStamp) return std::nullopt;
  std::uint64_t ms = 0;
  for (std::size_t i = 0; i < kKissTimestampBytes; ++i) ms = (ms << 8) | u.bytes[2 + i];
  return static_cast<std::int64_t>(ms);
}

bool IsPlausibleFrameTime(std::int64_t ms, std::int64_t now_ms) {
  return ms >= kEarliestFrameTimeMs && ms <= now_ms + kLatestFrameTimeAheadMs;
}

void AppendKissFrame(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> content) {
  out.push_back(kFend);
  for (const std::uint8_t b : content) {
    if (b == kFend) {
      out.insert(out.end(), {kFesc, kTfend});
    } else if (b == kFesc) {
      out.insert(out.end(), {kFesc, kTfesc});
    } else {
      out.push_back(b);
    }
  }
  out.push_back(kFend);
}

void AppendKissTimestampFrame(std::vector<std::uint8_t>& out, std::int64_t ms) {
  std::array<std::uint8_t, 1 + kKissTimestampBytes> content{kKissTimestampCommand};
  const auto value = static_cast<std::uint64_t>(ms);
  for (std::size_t i = 0; i < kKissTimestampBytes; ++i) {
    content[1 + i] = static_cast<std::uint8_t>(value >> (8 * (kKissTimestampBytes - 1 - i)));
  }
  AppendKissFrame(out, content);
}

}  // namespace zevrin
