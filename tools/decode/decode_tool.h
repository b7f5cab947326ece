#pragma once
// The decoder behind zevrinkiss-decode: a KISS byte stream in, one entry per frame
// out, through the same receive path and decoders as the desktop program.

#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>

#include "base/text_builder.h"
#include "base/time_of_day.h"
#include "frames/frame_analysis.h"
#include "kiss/receive_path.h"
#include "outputs/frame_sink.h"
#include "telemetry/display_fields.h"
#include "telemetry/telemetry_decoder.h"

namespace zevrin {

/// kInflux: the tool itself prints nothing; a line-protocol sink does.
/// kNone: nothing printed (the frames only go to the sink).
enum class OutputFormat { kMonitor, kJson, kCsv, kInflux, kNone };

struct DecodeToolOptions {
  OutputFormat format = OutputFormat::kMonitor;
  bool raw_view = false;  // monitor format: raw view instead of the decoded view
};

/// The output could not be written (a full disk, a reader that has gone); what()
/// names the reason.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class DecodeTool final : private FrameHandler, private MonitorSink, private ReceiveView {
 public:
  /// Writes to `out` in large blocks; Flush writes out the rest.
  DecodeTool(const DecodeToolOptions& options, std::FILE* out, const Clock& clock);
  /// Writes out what is left, as Flush does, but keeps quiet about a failure.
  ~DecodeTool() override;
  DecodeTool(const DecodeTool&) = delete;
  DecodeTool& operator=(const DecodeTool&) = delete;

  /// Feeds the next chunk of the stream. Throws OutputError when the output
  /// cannot be written; everything after the failure is dropped.
  void Feed(std::span<const std::uint8_t> bytes);

  /// Writes out everything decoded so far. An input loop calls it before it
  /// waits for a live source (a pipe, terminal, socket or serial line) that may
  /// pause, so each frame shows as soon as it is complete, and at the end.
  /// Throws OutputError when the output cannot be written.
  void Flush();

  /// Told about every frame after its decoding (reception time from the tool's
  /// clock, no station or link), and flushed after every fed chunk; null for none.
  void SetFrameSink(FrameSink* sink) { sink_ = sink; }
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

  void WriteOut();
  void ThrowIfFailed() const;
  void PassToSink(std::span<const std::uint8_t> frame);
  void WriteJson(std::span<const std::uint8_t> frame);
  void WriteDecodedValues();
  void WriteCsvHeader();
  void WriteCsvRow();

  DecodeToolOptions options_;
  std::FILE* out_;
  int out_fd_;           // the descriptor behind out_, written directly; -1 for none
  int write_error_ = 0;  // errno of the first failed write; 0 while all is well
  TextBuilder text_;     // decoded output not yet written
  TextBuilder scratch_;  // one text of a JSON object, before it is escaped
  const Clock& clock_;
  ReceiveState state_;
  ReceivePath receive_;
  FrameAnalysis analysis_;
  DisplayFields fields_;
  TelemetryDecoder telemetry_{fields_};
  std::uint64_t frames_ = 0;
  FrameSink* sink_ = nullptr;
};

}  // namespace zevrin
