#pragma once
// The decoder behind zevrinkiss-decode: a KISS byte stream in, one entry per frame
// out, through the desktop program's frame pipeline and decoders.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string_view>

#include "base/time_of_day.h"
#include "kiss/receive_path.h"
#include "outputs/export/monitor_writer.h"
#include "outputs/export/output_buffer.h"
#include "outputs/frame_recorder.h"
#include "outputs/frame_sink.h"
#include "station/program.h"

namespace zevrin {

/// kInflux, kPcap: the tool itself prints nothing; a line-protocol or pcap sink
/// does. kNone: nothing printed (the frames only go to the sink).
enum class OutputFormat { kMonitor, kJson, kCsv, kInflux, kPcap, kNone };

struct DecodeToolOptions {
  OutputFormat format = OutputFormat::kMonitor;
  bool raw_view = false;  // monitor format: raw view instead of the decoded view
};

class DecodeTool final : private ReceiveView {
 public:
  /// Writes to `out` in large blocks; Flush writes out the rest.
  DecodeTool(const DecodeToolOptions& options, std::FILE* out, const Clock& clock);
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
  void Flush() { out_.Flush(); }

  /// The output the format is written to, for lines of other kinds among the
  /// frames' (an alarm's JSON line).
  OutputBuffer& output() { return out_; }
  /// The stream the output goes to.
  std::FILE* stream() const { return stream_; }

  /// Told about every frame after its decoding (reception time from the tool's
  /// clock, no station or link), before the output format, and flushed after
  /// every fed chunk; null for none.
  void SetFrameSink(FrameSink* sink);
  /// Gives every frame its time, station and link before any sink or format
  /// sees it; null for none (the clock's time).
  void SetFrameTimer(FrameTimer* timer) { recorder_.SetTimer(timer); }
  /// Feeds one packet of a capture, as a KISS frame received at `ms`. The sink
  /// is not flushed after each: a capture is read in one go, as a file is, and
  /// Feed or Flush end its batch.
  void FeedCaptured(std::span<const std::uint8_t> kiss, std::int64_t ms);
  /// A time stamp read is not for the frame fed next.
  void ForgetNextFrameTime() { recorder_.ForgetNextFrameTime(); }
  /// Appends every complete frame to `log` before it is decoded; null for none.
  void SetRawLog(RawLog* log) { pipeline_.path().SetRawLog(log); }
  /// The stream broke off (a connection ended): a frame begun before is dropped.
  void AbandonFrame() {
    pipeline_.path().AbandonFrame();
    recorder_.ForgetNextFrameTime();
  }

 private:
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view) override {}

  // Declared in the order they are built: the output first, so that what the
  // caller put into the stream goes out before the CSV heading.
  std::FILE* stream_;
  OutputBuffer out_;
  std::unique_ptr<MonitorTextWriter> monitor_;  // the monitor format; null for the others
  std::unique_ptr<FrameSink> writer_;           // the other printed formats; null for none
  ProgramState program_;
  FramePipeline pipeline_;
  FrameRecorder recorder_;
  FrameSink* sink_ = nullptr;
};

}  // namespace zevrin
