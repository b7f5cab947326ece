#pragma once
// What happens to each complete frame: its monitor entry, the header decoding and
// the satellite decoder, in that order.

#include <span>

#include "frames/frame_header.h"
#include "frames/monitor.h"
#include "kiss/receive_path.h"

namespace zevrin {

/// Decodes the payload of a frame whose header has been decoded.
class SatelliteDecoder {
 public:
  virtual ~SatelliteDecoder() = default;
  virtual void DecodeSatelliteFrame(const UnescapedFrame& frame, const FrameHeader& header) = 0;
};

/// The hand-off of the receive path: ShowFrame, DecodeFrameHeader, then the
/// satellite decoder. Owns the unescaped frame and the decoded header, which live
/// as long as the receive state.
class FrameAnalysis final : public FrameHandler {
 public:
  explicit FrameAnalysis(const Clock& clock) : clock_(clock) {}

  /// Monitor and dump log may be null: nothing is shown or written.
  void SetMonitor(MonitorSink* monitor) { monitor_ = monitor; }
  MonitorSink* monitor() const { return monitor_; }
  void SetDumpLog(DumpLog* dump_log) { dump_log_ = dump_log; }
  void SetSatelliteDecoder(SatelliteDecoder* decoder) { decoder_ = decoder; }

  MonitorOptions& options() { return options_; }
  const MonitorOptions& options() const { return options_; }

  void HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) override;

  const UnescapedFrame& unescaped() const { return unescaped_; }
  const FrameHeader& header() const { return header_; }

 private:
  const Clock& clock_;
  MonitorSink* monitor_ = nullptr;
  DumpLog* dump_log_ = nullptr;
  SatelliteDecoder* decoder_ = nullptr;
  MonitorOptions options_;
  UnescapedFrame unescaped_;
  FrameHeader header_;
};

}  // namespace zevrin
