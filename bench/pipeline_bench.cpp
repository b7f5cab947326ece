// Throughput of the frame pipeline: receive path, header decoding, monitor text
// and telemetry decoding into the display-field store, on a generated pass and on
// random bytes.

#include <benchmark/benchmark.h>

#include <random>

#include "receive_chain.h"
#include "sample/sample_pass.h"

namespace zevrin {
namespace {

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
  CountingLog log;
  CountingMonitor monitor;
  bench::ReceiveChain chain(clock);
  chain.path.SetRawLog(&log);
  if (stage != kReceiveOnly) chain.path.SetFrameHandler(&chain.analysis);
  if (stage >= kWithTelemetry) chain.analysis.SetSatelliteDecoder(&chain.telemetry);
  if (stage == kWholePipeline) chain.analysis.SetMonitor(&monitor);
  for (auto _ : state) chain.Feed(input);
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
