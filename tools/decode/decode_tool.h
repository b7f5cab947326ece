#pragma once
// The decoder behind zevrinkiss-decode: a KISS byte stream in, one entry per frame
// out, through the same receive path and decoders as the desktop program.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "frames/frame_analysis.h"
#include "link/receive_path.h"
#include "platform/time_of_day.h"
#include "telemetry/telemetry_decoder.h"
#include "ui/display_fields.h"

namespace zevrin {

enum class OutputFormat { kMonitor, kJson, kCsv };

struct DecodeToolOptions {
  OutputFormat format = OutputFormat::kMonitor;
  bool raw_view = false;  // monitor format: raw view instead of the decoded view
};

/// Name of a bottom-row box for people: its caption, or a name where it has none.
std::string_view BoxLabel(Box box);
/// Name of a memory gauge for people.
std::string_view GaugeLabel(Gauge gauge);

class DecodeTool final : private FrameHandler, private MonitorSink, private ReceiveView {
 public:
  /// Writes to `out`, flushing after every frame so a live stream shows at once.
  DecodeTool(const DecodeToolOptions& options, std::FILE* out, const Clock& clock);

  /// Feeds the next chunk of the stream.
  void Feed(std::span<const std::uint8_t> bytes);

  /// Writes out what is buffered for the output.
  void Flush();
  /// Appends every complete frame to `log` before it is decoded; null for none.
  void SetRawLog(RawLog* log) { receive_.SetRawLog(log); }
  /// The stream broke off (a connection ended): a frame begun before is dropped.
  void AbandonFrame() { receive_.AbandonFrame(); }

  /// Number of frames handed over so far.
  std::uint64_t frames() const { return frames_; }

 private:
  void HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) override;
  void AppendMonitorText(std::string_view text, ColourRole role) override;
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view) override {}

  void WriteJson(std::span<const std::uint8_t> frame);
  void WriteDecodedValues();
  void WriteCsvHeader();
  void WriteCsvRow();

  DecodeToolOptions options_;
  std::FILE* out_;
  ReceiveState state_;
  ReceivePath receive_;
  FrameAnalysis analysis_;
  DisplayFields fields_;
  TelemetryDecoder telemetry_{fields_};
  std::string line_;
  std::uint64_t frames_ = 0;
};

}  // namespace zevrin
