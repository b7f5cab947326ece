#pragma once
// KISS frames written by the program, and the time-stamp frames some receivers
// put before each frame: command 0x09 and eight bytes, the reception time of the
// next frame in milliseconds since 1970 UTC, most significant byte first.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zevrin {

/// The command byte of a time-stamp frame: port 0, command 9. A 0x19 or 0x29
/// (command 9 for another port) is no time stamp: receivers stamp the frames of
/// their only port, and a stamp of one port must not time a frame of another.
inline constexpr std::uint8_t kKissTimestampCommand = 0x09;
/// The time bytes of a time-stamp frame, after unescaping.
inline constexpr std::size_t kKissTimestampBytes = 8;
/// The earliest time taken from a time stamp or a capture: 1990-01-01 00:00 UTC.
/// Earlier ones come from a receiver whose clock was never set.
inline constexpr std::int64_t kEarliestFrameTimeMs = 631152000000;
/// How far past the computer's clock a time stamp may lie: clocks of stations
/// disagree by seconds, never by a day.
inline constexpr std::int64_t kLatestFrameTimeAheadMs = 24 * 3600 * 1000;

/// The time a time-stamp frame carries; none when `frame` (as received, from
/// its opening to its closing FEND, escapes included) is any other frame: another
/// command byte, or not exactly eight bytes after undoing the escapes.
std::optional<std::int64_t> KissTimestamp(std::span<const std::uint8_t> frame);

/// True when a time stamp `ms` may be taken as a frame's time at `now_ms` (the
/// computer's clock): not before 1990 and at most a day ahead.
bool IsPlausibleFrameTime(std::int64_t ms, std::int64_t now_ms);

/// Appends `content` (a KISS command byte and its data) as one frame: a FEND,
/// the bytes with FEND and FESC escaped, a FEND.
void AppendKissFrame(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> content);

/// Appends the time-stamp frame for `ms`, escaped.
void AppendKissTimestampFrame(std::vector<std::uint8_t>& out, std::int64_t ms);

}  // namespace zevrin
