// Throughput of the frame pipeline: receive path, header decoding, monitor text
// and telemetry decoding into the display-field store, on a generated pass and on
// random bytes.

#include <benchmark/benchmark.h>

#include <random>

#include "frames/frame_analysis.h"
#include "kiss/receive_path.h"
#include "sample/sample_pass.h"
#include "telemetry/display_fields.h"
#include "telemetry/telemetry_decoder.h"

namespace zevrin {
namespace {

class NullView final : public ReceiveView {
 public:
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view text) override {
    benchmark::DoNotOptimize(text.data());
  }
};

// Keeps what a window would keep: the texts, so their building cannot be skipped.
class CountingMonitor final : public MonitorSink {
 public:
  void AppendMonitorText(std::string_view text, ColourRole) override { chars += text.size(); }
  std::size_t chars = 0;
};

class CountingLog final : public RawLog {
 public:
  bool AppendFrame(std::span<const std::uint8_t> frame) override {
    bytes += frame.size();
    return true;
  }
  std::size_t bytes = 0;
};

const sample::Bytes& Pass() {
  static const sample::Bytes pass = sample::MakePass(sample::PassOptions{});
  return pass;
}

const sample::Bytes& RandomBytes() {
  static const sample::Bytes bytes = [] {
    sample::Bytes b(1 << 20);
    std::mt19937 rng(1);
    // Random bytes with FENDs about as often as in real traffic, so frames form.
    for (auto& x : b) x = (rng() % 120 == 0) ? 0xC0 : static_cast<std::uint8_t>(rng());
    return b;
  }();
  return bytes;
}

enum Stage { kReceiveOnly, kWithHeader, kWithTelemetry, kWholePipeline };

void RunPipeline(benchmark::State& state, const sample::Bytes& input, Stage stage) {
  SystemClock clock;
  NullView view;
  CountingLog log;
  CountingMonitor monitor;
  ReceiveState receive_state;
  ReceivePath path(receive_state, clock, view);
  FrameAnalysis analysis(clock);
  DisplayFields fields;
  TelemetryDecoder telemetry(fields);
  path.SetRawLog(&log);
  if (stage != kReceiveOnly) path.SetFrameHandler(&analysis);
  if (stage >= kWithTelemetry) analysis.SetSatelliteDecoder(&telemetry);
  if (stage == kWholePipeline) analysis.SetMonitor(&monitor);
  constexpr std::size_t kChunk = 4096;  // a generous serial notification
  for (auto _ : state) {
    for (std::size_t pos = 0; pos < input.size(); pos += kChunk) {
      const std::size_t n = std::min(kChunk, input.size() - pos);
      path.Receive(std::span<const std::uint8_t>(input.data() + pos, n));
    }
  }
  benchmark::DoNotOptimize(monitor.chars);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.size()));
}

void BM_ReceivePath_Pass(benchmark::State& s) { RunPipeline(s, Pass(), kReceiveOnly); }
void BM_HeaderDecoding_Pass(benchmark::State& s) { RunPipeline(s, Pass(), kWithHeader); }
void BM_Telemetry_Pass(benchmark::State& s) { RunPipeline(s, Pass(), kWithTelemetry); }
void BM_WholePipeline_Pass(benchmark::State& s) { RunPipeline(s, Pass(), kWholePipeline); }
void BM_WholePipeline_RandomBytes(benchmark::State& s) {
  RunPipeline(s, RandomBytes(), kWholePipeline);
}

BENCHMARK(BM_ReceivePath_Pass);
BENCHMARK(BM_HeaderDecoding_Pass);
BENCHMARK(BM_Telemetry_Pass);
BENCHMARK(BM_WholePipeline_Pass);
BENCHMARK(BM_WholePipeline_RandomBytes);

}  // namespace
}  // namespace zevrin

BENCHMARK_MAIN();
