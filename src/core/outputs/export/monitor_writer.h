#pragma once
// The frame monitor as plain text: what the main window's monitor shows of each
// frame, then the values a satellite frame wrote, for a terminal or a file.

#include <string_view>

#include "frames/monitor.h"
#include "outputs/export/output_buffer.h"
#include "outputs/frame_sink.h"

namespace zevrin {

/// Attached as the frame analysis's monitor, it writes each monitor entry with LF
/// line ends; as a sink behind the analysis, it adds one line per value the
/// frame wrote, if it came from the satellite: "  caption: value unit", with
/// "  [colour]" after a value that is not shown in the normal colour.
class MonitorTextWriter final : public MonitorSink, public FrameSink {
 public:
  /// `out` must outlive the writer.
  explicit MonitorTextWriter(OutputBuffer& out) : out_(out) {}

  void AppendMonitorText(std::string_view text, ColourRole role) override;
  void FrameDecoded(const DecodedFrame& frame) override;

 private:
  OutputBuffer& out_;
};

}  // namespace zevrin
