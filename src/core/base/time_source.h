#pragma once
// Where a frame's reception time came from, for the archive, the exports and the
// decision whether a replayed frame may be shared.

#include <array>
#include <optional>
#include <string_view>

namespace zevrin {

/// The origin of a frame's reception time.
enum class TimeSource {
  kLive,       ///< the computer's clock at reception
  kKiss,       ///< a KISS time-stamp frame before the frame
  kPcap,       ///< the packet's time in a pcap or pcapng file
  kName,       ///< a raw log's start minute in its name, then the line rate
  kMtime,      ///< a file's modification time, the line rate back from it
  kStartTime,  ///< the --start-time of the decode tool, then the line rate
};

/// The names of the time sources, in the order of the enum, as the archive and
/// the JSON output write them.
inline constexpr std::array<std::string_view, 6> kTimeSourceNames = {"live", "kiss",  "pcap",
                                                                     "name", "mtime", "start-time"};

/// The name of `source`.
constexpr std::string_view TimeSourceName(TimeSource source) {
  return kTimeSourceNames[static_cast<std::size_t>(source)];
}

/// The source of `name`; none for a name of no source.
std::optional<TimeSource> ParseTimeSource(std::string_view name);

/// True when the source gives each frame its own time, taken when it was
/// received (the clock, a time-stamp frame, a capture); false for the times a
/// recording's start and the line rate estimate.
constexpr bool IsRecordedPerFrame(TimeSource source) {
  return source == TimeSource::kLive || source == TimeSource::kKiss || source == TimeSource::kPcap;
}

}  // namespace zevrin
