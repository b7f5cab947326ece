// The window path, offscreen: bytes through the receive path, decoding, the frame
// monitor and the display fields of a shown main window, with its repaints.
//
// BM_WindowPass: the sample pass in serial-sized notifications; "frames" is the
// rate of frames per CPU second, "core_at_100fps" the share of one core that
// 100 frames per second take.
// BM_OneMoreFrame/N: one system record frame with the monitor already holding
// N lines; its time should not grow with N.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>

#include "sample/sample_pass.h"
#include "windows/main_window.h"

namespace zevrin {
namespace {

constexpr int kPassFrames = 600;
constexpr std::size_t kChunk = 384;  // about 33 ms of a 115,200-baud line

struct Window {
  SystemClock clock;
  DesktopProgram program{clock};
  MainWindow window{program};
  Window() {
    window.resize(1280, 800);
    window.show();
    QApplication::processEvents();
  }
};

void BM_WindowPass(benchmark::State& state) {
  static const sample::Bytes pass = sample::MakePass({.frames = kPassFrames});
  Window w;
  for (auto _ : state) {
    for (std::size_t pos = 0; pos < pass.size(); pos += kChunk) {
      const std::size_t n = std::min(kChunk, pass.size() - pos);
      w.window.Receive(std::span<const std::uint8_t>(pass.data() + pos, n));
      QApplication::processEvents();
    }
  }
  const double frames = static_cast<double>(state.iterations()) * kPassFrames;
  state.counters["frames"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["core_at_100fps"] =
      benchmark::Counter(frames / 100.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["monitor_lines"] = w.window.monitor().LineCount();
}

sample::Bytes SystemRecordFrame() {
  sample::Bytes p = sample::SatellitePayload(4711, 'S', 2, 0x0100, 110);
  p[6] = 0x17;
  p[70] = 0x40;
  for (std::size_t i = 71; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i * 7);
  return sample::KissFrame(sample::SatelliteFrame(p));
}

void BM_OneMoreFrame(benchmark::State& state) {
  static const sample::Bytes frame = SystemRecordFrame();
  Window w;
  MonitorPane& pane = w.window.monitor();
  const auto lines = static_cast<int>(state.range(0));
  for (int i = 0; i < lines; ++i) {
    pane.AppendMonitorText(" 1   > 14 BE 53 57 01 00 17 15 18 1B 1E 21 EF 9F 07 12 0E 06 14 06 \r",
                           ColourRole::kDump);
  }
  QApplication::processEvents();
  for (auto _ : state) {
    w.window.Receive(frame);
    QApplication::processEvents();
  }
  state.counters["monitor_lines"] = pane.LineCount();
}

BENCHMARK(BM_WindowPass)->Unit(benchmark::kMillisecond)->Iterations(20);
// A fixed number of frames, so the 1,000-line monitor stays near its size.
BENCHMARK(BM_OneMoreFrame)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond)->Iterations(400);

}  // namespace
}  // namespace zevrin

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
