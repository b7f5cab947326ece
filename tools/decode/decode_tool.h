#pragma once
// The decoder behind zevrinkiss-decode: a KISS byte stream in, one entry per frame
// out, through the same receive path and decoders as the desktop program.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "archive/frame_sink.h"
#include "frames/frame_analysis.h"
#include "link/receive_path.h"
#include "platform/time_of_day.h"
#include "telemetry/telemetry_decoder.h"
#include "ui/display_fields.h"

namespace zevrin {

/// kInflux: the tool itself prints nothing; a line-protocol sink does.
/// kNone: nothing printed (the frames only go to the sink).
enum class OutputFormat { kMonitor, kJson, kCsv, kInflux, kNone };

struct DecodeToolOptions {
  OutputFormat format = OutputFormat::kMonitor;
  bool raw_view = false;  // monitor format: raw view instead of the decoded view
};

class DecodeTool final : private FrameHandler, private MonitorSink, private ReceiveView {
 public:
  /// Writes to `out`, flushing after every frame so a live stream shows at once.
  DecodeTool(const DecodeToolOptions& options, std::FILE* out, const Clock& clock);

  /// Feeds the next chunk of the stream.
  void Feed(std::span<const std::uint8_t> bytes);

  /// Told about every frame after its decoding (reception time from the tool's
  /// clock, no station or link), and flushed after every fed chunk; null for none.
  void SetFrameSink(FrameSink* sink) { sink_ = sink; }

  /// Number of frames handed over so far.
  std::uint64_t frames() const { return frames_; }

 private:
  void HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) override;
  void AppendMonitorText(std::string_view text, ColourRole role) override;
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view) override {}

  void PassToSink(std::span<const std::uint8_t> frame);
  void WriteJson(std::span<const std::uint8_t> frame);
  void WriteDecodedValues();
  void WriteCsvHeader();
  void WriteCsvRow();

  DecodeToolOptions options_;
  std::FILE* out_;
  const Clock& clock_;
  ReceiveState state_;
  ReceivePath receive_;
  FrameAnalysis analysis_;
  DisplayFields fields_;
  TelemetryDecoder telemetry_{fields_};
  std::string line_;
  std::uint64_t frames_ = 0;
  FrameSink* sink_ = nullptr;
};

}  // namespace zevrin
