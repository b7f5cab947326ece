#pragma once
// The decoder behind zevrinkiss-decode: a KISS byte stream in, one entry per frame
// out, through the same receive path and decoders as the desktop program.

#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>

#include "frames/frame_analysis.h"
#include "frames/text_builder.h"
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

  /// Number of frames handed over so far.
  std::uint64_t frames() const { return frames_; }

 private:
  void HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) override;
  void AppendMonitorText(std::string_view text, ColourRole role) override;
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view) override {}

  void WriteOut();
  void ThrowIfFailed() const;
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
  ReceiveState state_;
  ReceivePath receive_;
  FrameAnalysis analysis_;
  DisplayFields fields_;
  TelemetryDecoder telemetry_{fields_};
  std::uint64_t frames_ = 0;
};

}  // namespace zevrin
