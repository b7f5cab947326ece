#pragma once
// The frame monitor's entry for each frame: summary line, decoded or raw view,
// hex dump, and the copy that goes to the dump log.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/colours.h"
#include "base/text_builder.h"
#include "base/time_of_day.h"
#include "frames/frame_header.h"

namespace zevrin {

/// What a monitor text is, for its colour (mapped to RGB by MonitorColour).
enum class ColourRole {
  kSeparator,  // black: the empty line between frames
  kSummary,    // grey: the time-stamped summary line
  kControl,    // grey: the control line
  kAddress,    // black: the address line
  kDump,       // blue: hex dump lines
};

/// The monitor colour of a text role.
constexpr Rgb MonitorColour(ColourRole role) {
  switch (role) {
    case ColourRole::kSummary:
    case ColourRole::kControl:
      return kMonitorGrey;
    case ColourRole::kDump:
      return kMonitorBlue;
    case ColourRole::kSeparator:
    case ColourRole::kAddress:
      break;
  }
  return kMonitorBlack;
}

/// Receives monitor texts; each ends in a carriage return alone.
class MonitorSink {
 public:
  virtual ~MonitorSink() = default;
  virtual void AppendMonitorText(std::string_view text, ColourRole role) = 0;
};

/// Receives dump-log lines without their line end; the writer ends each in CR LF.
class DumpLog {
 public:
  virtual ~DumpLog() = default;
  virtual void WriteLine(std::string_view line) = 0;
};

/// The two user choices ShowFrame reads for every frame.
struct MonitorOptions {
  bool analyze_frame = true;  // "Decode KISS Frame": decoded view, else raw view
  bool hexdump = false;       // "Write Payload to ASCII File (Hexdump)"
};

/// The frame type by KISS command byte, compared as a whole byte.
std::string_view FrameTypeText(std::uint8_t command);

/// "yyyy-mm-dd hh:mm:ss.mmm" of one clock reading, so the milliseconds always
/// belong to the second shown.
std::string FrameTimestamp(const UtcInstant& now);

/// Decimal text of n with a blank in place of the sign (a minus when negative),
/// padded with blanks on the right to `width`; never cut.
std::string PadNumber(int n, int width);

/// Two upper-case hex digits and a blank per byte.
std::string HexText(std::span<const std::uint8_t> bytes);

/// A point for each byte below 32, otherwise the byte itself as a character.
std::string AsciiText(std::span<const std::uint8_t> bytes);

/// Bytes per dump line.
inline constexpr std::size_t kDumpBytesPerLine = 20;

/// Appends the dump line of the bytes of `bytes` from index `start` on (at most
/// 20): PadNumber of start + 1 (width 4), " > " and the hex text. No line end.
void AppendDumpLine(TextBuilder& line, std::span<const std::uint8_t> bytes, std::size_t start);

/// "ctrl: 3   PID: F0 {UI}   41 Payload Bytes", without line end. A frame without
/// a PID field shows "PID: -".
std::string ControlLine(const FrameHeader& header, const UnescapedFrame& frame);
/// Appends ControlLine to `line`.
void AppendControlLine(TextBuilder& line, const FrameHeader& header, const UnescapedFrame& frame);

/// Appends AsciiText of `bytes` to `line`.
void AppendAsciiText(TextBuilder& line, std::span<const std::uint8_t> bytes);

/// The decoded view's dumped bytes: positions payload_start to unescaped_length - 1.
std::span<const std::uint8_t> PayloadBytes(const FrameHeader& header, const UnescapedFrame& frame);

/// How many bytes PayloadBytes holds: 0 for a frame too short for its header.
int PayloadCount(const FrameHeader& header, const UnescapedFrame& frame);

/// Writes the frame's entry to the monitor (and, with the hexdump option, to the
/// dump log). In the decoded view it decodes the header into `unescaped` and
/// `header` first. `frame` is frame_buffer positions 1 to frame_length.
void ShowFrame(std::span<const std::uint8_t> frame, const MonitorOptions& options,
               const UtcInstant& now, UnescapedFrame& unescaped, FrameHeader& header,
               MonitorSink& monitor, DumpLog* dump_log);

}  // namespace zevrin
