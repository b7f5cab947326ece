#include "decode/decode_tool.h"

#include "outputs/export/csv_writer.h"
#include "outputs/export/json_writer.h"

namespace zevrin {

namespace {

std::unique_ptr<MonitorTextWriter> MakeMonitor(OutputFormat format, OutputBuffer& out) {
  if (format != OutputFormat::kMonitor) return nullptr;
  return std::make_unique<MonitorTextWriter>(out);
}

std::unique_ptr<FrameSink> MakeWriter(OutputFormat format, OutputBuffer& out) {
  if (format == OutputFormat::kJson) return std::make_unique<JsonWriter>(out);
  if (format == OutputFormat::kCsv) return std::make_unique<CsvWriter>(out);
  return nullptr;
}

}  // namespace

DecodeTool::DecodeTool(const DecodeToolOptions& options, std::FILE* out, const Clock& clock)
    : stream_(out),
      out_(out),
      monitor_(MakeMonitor(options.format, out_)),
      writer_(MakeWriter(options.format, out_)),
      program_(clock),
      pipeline_(program_, *this, monitor_.get()),
      recorder_(program_.station.analysis, program_.decoder, program_.fields, program_.clock) {
  // Only the monitor format shows frames; the others decode the header alone.
  if (monitor_) pipeline_.analysis().options().analyze_frame = !options.raw_view;
  // The recorder between the receive path and the analysis gives each decoded
  // frame to the format's writers.
  pipeline_.path().SetFrameHandler(&recorder_);
  SetFrameSink(nullptr);
}

// The output buffer writes out what is left.
DecodeTool::~DecodeTool() = default;

// The caller's sink is told of a frame before the format's writers, which are
// therefore put back behind it.
void DecodeTool::SetFrameSink(FrameSink* sink) {
  if (sink_ != nullptr) recorder_.RemoveSink(sink_);
  if (monitor_) recorder_.RemoveSink(monitor_.get());
  if (writer_) recorder_.RemoveSink(writer_.get());
  sink_ = sink;
  if (sink_ != nullptr) recorder_.AddSink(sink_);
  if (monitor_) recorder_.AddSink(monitor_.get());
  if (writer_) recorder_.AddSink(writer_.get());
}

void DecodeTool::Feed(std::span<const std::uint8_t> bytes) {
  pipeline_.Receive(bytes);
  if (sink_ != nullptr) sink_->Flush();
  out_.ThrowIfFailed();
}

void DecodeTool::FeedCaptured(std::span<const std::uint8_t> kiss, std::int64_t ms) {
  recorder_.SetNextFrameTime(ms, TimeSource::kPcap);
  pipeline_.Receive(kiss);
  recorder_.ForgetNextFrameTime();
  out_.ThrowIfFailed();
}

}  // namespace zevrin
