#pragma once
// What a receiver does with each frame after decoding it: the archive, the
// line-protocol export and any later consumer are sinks behind the receive path.

#include <cstdint>
#include <span>
#include <string_view>

#include "base/time_source.h"
#include "frames/frame_header.h"
#include "telemetry/display_fields.h"
#include "telemetry/telemetry_decoder.h"

namespace zevrin {

/// One frame after its decoding, as the sinks see it. Every view points into the
/// caller's storage and is valid only during the call.
struct DecodedFrame {
  /// The frame as received, from its opening to its closing FEND, escapes included.
  std::span<const std::uint8_t> bytes;
  /// Reception time: milliseconds since 1970-01-01 00:00:00 UTC.
  std::int64_t received_ms = 0;
  /// The receiving station's label.
  std::string_view station;
  /// The link the frame came from ("COM1", a file name, "stdin").
  std::string_view link;
  /// The decoded header; null when the caller has none.
  const FrameHeader* header = nullptr;
  /// The frame without its escapes, as the header was decoded from; null when
  /// the caller has none.
  const UnescapedFrame* unescaped = nullptr;
  /// True when the time was worked out from a recording rather than read from a
  /// clock at reception: the same recording read again gives the same times.
  bool replayed = false;
  /// Where received_ms came from.
  TimeSource time_source = TimeSource::kLive;
  /// True when the frame came from the satellite to the ground station.
  bool from_satellite = false;
  /// The housekeeping record the frame carried, if any.
  RecordKind record = RecordKind::kNone;
  /// The display-field store after the frame; its journal (`Writes()`) holds
  /// exactly what this frame wrote. Null when the caller has none.
  const DisplayFields* fields = nullptr;
};

/// Gives a frame its reception time, station and link before the sinks see it
/// (a replay of a recording times its frames at the line rate).
class FrameTimer {
 public:
  virtual ~FrameTimer() = default;
  /// `frame` comes with the clock's time (source kLive) or with the time a
  /// time stamp or capture gave it (kKiss, kPcap), which a timer keeps.
  virtual void TimeFrame(DecodedFrame& frame) = 0;
};

/// Receives every decoded frame, in reception order.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void FrameDecoded(const DecodedFrame& frame) = 0;
  /// A KISS time-stamp frame, as received (FENDs and escapes included). Its time
  /// comes with the next frame; only a sink that passes frames on as they came
  /// needs the stamp itself.
  virtual void TimeStampReceived(std::span<const std::uint8_t> /*frame*/) {}
  /// The source has handed over everything it has for now (the end of a read, of
  /// a file or of the program): a sink that gathers frames into batches ends its
  /// batch here.
  virtual void Flush() {}
};

}  // namespace zevrin
