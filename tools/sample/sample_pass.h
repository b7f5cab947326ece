#pragma once
// Builds KISS byte streams of the satellite's downlink for tests, benchmarks and
// the bundled sample pass: housekeeping records with slowly changing values,
// image and GPS frames, frames of other stations, and bytes that need escaping.

#include <cstdint>
#include <string>
#include <vector>

namespace zevrin::sample {

using Bytes = std::vector<std::uint8_t>;

/// One AX.25 address: callsign (up to 6 characters), SSID, repeated mark.
struct Address {
  std::string callsign;
  int ssid = 0;
  bool repeated = false;
};

/// An AX.25 frame before KISS framing.
struct Ax25Frame {
  std::uint8_t command = 0x00;  // KISS command byte
  Address destination;
  Address source;
  std::vector<Address> digipeaters;
  std::uint8_t control = 0x03;  // UI
  int pid = 0xF0;               // -1: no PID field
  Bytes payload;
};

/// The header and payload of an AX.25 frame (addresses shifted, SSID bytes with
/// the extension bit on the last address), without KISS command byte.
Bytes EncodeAx25(const Ax25Frame& frame);

/// FEND, command byte, the escaped body, FEND.
Bytes KissFrame(std::uint8_t command, const Bytes& body);

/// KissFrame of EncodeAx25.
Bytes KissFrame(const Ax25Frame& frame);

/// A satellite payload of `size` bytes (at least 7) with the common header filled
/// in: frame number, type letter, counter, header word.
Bytes SatellitePayload(int frame_number, char type, int counter, int header_word, int size);

/// A frame from the satellite to its ground station with the given payload.
Ax25Frame SatelliteFrame(Bytes payload);

/// Parameters of a generated pass.
struct PassOptions {
  int frames = 600;
  std::uint32_t seed = 20090620;
  /// Satellite clock at the first system record, seconds since 1970 (UTC).
  std::int64_t start_time = 1245506709;  // 2009-06-20 14:05:09
  /// The battery runs down in the middle of the pass, below the powersafe and
  /// then the emergency threshold, and recovers; the power level follows it.
  bool battery_dip = false;
};

/// A whole pass as one KISS stream.
Bytes MakePass(const PassOptions& options);

}  // namespace zevrin::sample
