#pragma once
// Recognition of the satellite's frames and decoding of its two housekeeping
// records into the display-field store.

#include <cstdint>
#include <vector>

#include "frames/frame_analysis.h"
#include "frames/frame_header.h"
#include "telemetry/display_fields.h"

namespace zevrin {

/// The satellite's own callsign as source, and the ground station's as destination.
inline constexpr std::string_view kSatelliteCall = "QQ0SAT";
inline constexpr std::string_view kGroundStationCall = "QQ0GND";
/// Frame-type box text for a frame that the satellite did not send.
inline constexpr std::string_view kNotSatelliteText = "no TARVELO packets";

/// Which housekeeping record the last frame carried.
enum class RecordKind { kNone, kPower, kSystem };

/// Writes what each satellite frame carries into a display-field store. Keeps
/// what the last frame was, and the bytes each value was last worked out from.
/// Each value is written as a step of its own: a value that cannot be worked
/// out, or whose bytes do not all lie inside the frame (before its closing FEND),
/// leaves its target as it was.
class TelemetryDecoder final : public SatelliteDecoder {
 public:
  /// What a step last wrote: the bytes it read, and the version its text got in
  /// the store (0: none yet).
  struct Memo {
    std::uint64_t bytes = 0;
    std::uint64_t version = 0;
  };

  explicit TelemetryDecoder(DisplayFields& fields);

  /// A frame from the satellite to the ground station gets its payload header
  /// written into the bottom-row boxes and, for a housekeeping record of one of
  /// the two known layouts, the record decoded. A frame from any other source
  /// only sets the frame-type box to "no TARVELO packets"; one from the satellite
  /// to another destination changes nothing. Does not start the store's journal.
  void DecodeSatelliteFrame(const UnescapedFrame& frame, const FrameHeader& header) override;

  /// The record that the last frame decoded; kNone when it decoded none.
  RecordKind last_record() const { return last_record_; }
  /// True when the last frame came from the satellite to the ground station.
  bool last_was_satellite() const { return last_was_satellite_; }

 private:
  void DecodePowerHousekeeping(const UnescapedFrame& frame);
  void DecodeSystemHousekeeping(const UnescapedFrame& frame);

  DisplayFields& fields_;
  // By step, in the order of the three step tables.
  std::vector<Memo> header_memos_;
  std::vector<Memo> power_memos_;
  std::vector<Memo> system_memos_;
  RecordKind last_record_ = RecordKind::kNone;
  bool last_was_satellite_ = false;
};

}  // namespace zevrin
