#pragma once
// Every frame as one JSON object on a line of its own, for scripts.

#include "base/text_builder.h"
#include "outputs/export/output_buffer.h"
#include "outputs/frame_sink.h"

namespace zevrin {

/// One object per frame: its reception time in milliseconds since 1970 and where
/// that time came from ("received_ms", "time_source"), its length, KISS type, addresses, control
/// and PID bytes, payload position, the monitor's header and control lines, hex dump and ASCII
/// text, then what the frame wrote into the display-field store ("fields", "colours", "boxes",
/// "gauges"). Texts are taken as Latin-1. A frame without a decoded header or unescaped bytes gives
/// no object.
class JsonWriter final : public FrameSink {
 public:
  /// `out` must outlive the writer.
  explicit JsonWriter(OutputBuffer& out) : out_(out) {}

  void FrameDecoded(const DecodedFrame& frame) override;

 private:
  void AppendFrame(const DecodedFrame& frame);
  void AppendMonitorTexts(const FrameHeader& header, const UnescapedFrame& unescaped);

  OutputBuffer& out_;
  TextBuilder scratch_;  // one text of an object, before it is escaped
};

}  // namespace zevrin
