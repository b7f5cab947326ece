#pragma once
// Housekeeping records as InfluxDB line protocol, for time-series databases.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "outputs/archive/archive_batch.h"
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

/// The same line from the values of a record as the archive keeps them (one per
/// column of RecordColumns(record), as ArchiveBatch::Values gives them). A real
/// is written in the shortest form that reads back as the same number ("25"
/// where the window wrote "25.0"): the database holds the same point. Empty for
/// a record without a numeric value.
std::string LineProtocolOfValues(RecordKind record, std::string_view station,
                                 std::int64_t received_ms, std::span<const StoredValue> values);

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
