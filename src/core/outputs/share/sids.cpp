#include "outputs/share/sids.h"

#include <cmath>
#include <cstdio>

#include "base/version.h"

namespace zevrin {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Position of the first byte after the KISS command byte; the last position holds
// the closing FEND.
constexpr int kFirstAx25Position = 3;
constexpr int kCommandPosition = 2;
// The low nibble of the KISS command byte is the command (0: data), the high nibble
// the TNC port; bit 7 marks a SMACK frame, which ends in two CRC bytes.
constexpr std::uint8_t kKissCommandMask = 0x0F;
constexpr std::uint8_t kKissData = 0x00;
constexpr std::uint8_t kSmackFlag = 0x80;
constexpr int kSmackCrcBytes = 2;

std::string Coordinate(double degrees, char positive, char negative) {
  char text[32];
  std::snprintf(text, sizeof text, "%.5f", std::fabs(degrees));
  // A tiny negative value that rounds to 0.00000 gets the positive side's letter, so
  // the text never depends on a sign that the digits do not show.
  const bool zero = std::string_view(text) == "0.00000";
  return std::string(text) + (degrees < 0.0 && !zero ? negative : positive);
}

}  // namespace

bool IsSharedFrame(const UnescapedFrame& frame, const FrameHeader& header) {
  const std::uint8_t command = frame.At(kCommandPosition);
  return (command & kKissCommandMask) == kKissData && header.source_call == kSharedSource;
}

std::string SidsTimestamp(UtcInstant received) {
  const CivilTime t = ToCivil(received.seconds);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day,
                t.hour, t.minute, t.second, received.milliseconds);
  return text;
}

std::string SidsLongitude(double degrees) { return Coordinate(degrees, 'E', 'W'); }

std::string SidsLatitude(double degrees) { return Coordinate(degrees, 'N', 'S'); }

std::string SidsFrameHex(const UnescapedFrame& frame) {
  std::string hex;
  int last = frame.unescaped_length - 1;  // the closing FEND is left out
  if ((frame.At(kCommandPosition) & kSmackFlag) != 0) last -= kSmackCrcBytes;
  for (int pos = kFirstAx25Position; pos <= last; ++pos) {
    const std::uint8_t byte = frame.At(pos);
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 0x0F];
  }
  return hex;
}

std::string FormEncode(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
      out += c;
    } else if (byte == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 0x0F];
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> SidsFields(const ShareStation& station,
                                                            UtcInstant received,
                                                            std::string_view frame_hex) {
  return {
      {"noradID", std::to_string(station.norad_id)},
      {"source", station.callsign},
      {"timestamp", SidsTimestamp(received)},
      {"frame", std::string(frame_hex)},
      {"locator", "longLat"},
      {"longitude", SidsLongitude(station.longitude)},
      {"latitude", SidsLatitude(station.latitude)},
      {"version", std::string(kVersion)},
  };
}

std::string SidsForm(const ShareStation& station, UtcInstant received, std::string_view frame_hex) {
  std::string body;
  for (const auto& [name, value] : SidsFields(station, received, frame_hex)) {
    if (!body.empty()) body += '&';
    body += FormEncode(name);
    body += '=';
    body += FormEncode(value);
  }
  return body;
}

}  // namespace zevrin
