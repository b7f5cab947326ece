#pragma once
// The request that shares one received frame with a telemetry server of the Simple
// Downlink Share Convention: an HTML form of the frame, the time it was received
// and the receiving station.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/time_of_day.h"
#include "frames/frame_header.h"

namespace zevrin {

/// Only frames with this source address (SSID 0) are shared: the satellite's own.
inline constexpr std::string_view kSharedSource = "QQ0SAT";

/// The receiving station, as the server is told it.
struct ShareStation {
  std::string callsign;
  double latitude = 0.0;   // decimal degrees, north positive
  double longitude = 0.0;  // decimal degrees, east positive
  std::uint32_t norad_id = 0;
};

/// True for a frame that is shared: a KISS data frame (command 0x00 or its SMACK
/// form 0x80, any TNC port) whose source address is exactly the satellite's. TNC
/// frames of other kinds (TIME frames, ...) did not come over the air.
bool IsSharedFrame(const UnescapedFrame& frame, const FrameHeader& header);

/// "2009-06-20T14:05:09.137Z".
std::string SidsTimestamp(UtcInstant received);

/// "8.95564E", "71.25000W": five decimals, the hemisphere after the number.
std::string SidsLongitude(double degrees);
/// "49.73145N", "33.50000S".
std::string SidsLatitude(double degrees);

/// The AX.25 frame in upper-case hexadecimal: the unescaped frame without its
/// FENDs, without the KISS command byte and, for a SMACK frame, without the two
/// CRC bytes of the serial link. Empty for a frame shorter than that.
std::string SidsFrameHex(const UnescapedFrame& frame);

/// Percent-encodes `text` for an application/x-www-form-urlencoded body: letters,
/// digits and "-._~" stay, a blank becomes "+", every other byte "%XX".
std::string FormEncode(std::string_view text);

/// The fields of the form, in the order they are sent.
std::vector<std::pair<std::string, std::string>> SidsFields(const ShareStation& station,
                                                            UtcInstant received,
                                                            std::string_view frame_hex);

/// The form body: "noradID=...&source=...&timestamp=...&frame=...&locator=longLat&
/// longitude=...&latitude=...&version=...".
std::string SidsForm(const ShareStation& station, UtcInstant received, std::string_view frame_hex);

}  // namespace zevrin
