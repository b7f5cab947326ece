#pragma once
// Housekeeping records as InfluxDB line protocol, for time-series databases.

#include <cstdio>
#include <string>

#include "outputs/frame_sink.h"

namespace zevrin {

/// One line per housekeeping record:
///   power_housekeeping,station=Lab frame_number=42i,...,battery_volts=3.49 1267625220000000000
/// The measurement is the archive's table name, the station label its one tag
/// (left out when empty), every numeric value a field named like the archive's
/// column, whole numbers with the "i" suffix and the others as the window wrote
/// them; the time is the reception time in nanoseconds. Values the record did not
/// write are left out. Other frames give no line.
std::string LineProtocolRecord(const DecodedFrame& frame);

/// Writes LineProtocolRecord of every frame to a stream.
class LineProtocolWriter final : public FrameSink {
 public:
  explicit LineProtocolWriter(std::FILE* out) : out_(out) {}
  void FrameDecoded(const DecodedFrame& frame) override;
  void Flush() override { std::fflush(out_); }

 private:
  std::FILE* out_;
};

}  // namespace zevrin
