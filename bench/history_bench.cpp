// The history window, offscreen, with one value of a million points.
//
// BM_RedrawAfterZoom: one zoom step (alternately in and out around the middle, the
// whole series or most of it in view), then the events it posts and a synchronous
// repaint of the plot: the time from the user's wheel notch to the new picture.
// Counters: "drawn" the points handed to the chart after thinning, "rss_mb" and
// "peak_rss_mb" the memory of the whole process (window, series and all).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QChartView>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>

#include "ui/history_window.h"

namespace zevrin {
namespace {

constexpr std::int64_t kPoints = 1000000;
constexpr std::int64_t kStart = 1800000000000;
constexpr std::int64_t kStepMs = 2000;  // a record every two seconds: 23 days

// A figure of /proc/self/status in megabytes ("VmRSS", "VmHWM").
double StatusMegabytes(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stod(line.substr(key.size() + 1)) / 1024.0;
  }
  return 0;
}

class FixedNow final : public Clock {
 public:
  UtcInstant Now() const override { return {(kStart + kPoints * kStepMs) / 1000, 0}; }
};

void BM_RedrawAfterZoom(benchmark::State& state) {
  MemoryHistorySource source({{18, "Battery Volts", "V"}});
  auto& series = source.Series(18);
  series.reserve(kPoints);
  for (std::int64_t i = 0; i < kPoints; ++i) {
    // A slow swing, a daily ripple and noise: every column has a real minimum and maximum.
    const double t = static_cast<double>(i);
    series.push_back({kStart + i * kStepMs, 3.8 + 0.2 * std::sin(t / 90000) +
                                                0.05 * std::sin(t / 700) +
                                                0.01 * std::sin(t * 12.9898)});
  }
  FixedNow clock;
  HistoryWindow window(source, clock, kStart);
  window.resize(1280, 800);
  window.show();
  window.AddValue(18);
  window.SetRange(HistoryRange::kAll);
  QApplication::processEvents();
  QWidget* plot = window.chart_view()->viewport();
  plot->repaint();

  bool in = true;
  for (auto _ : state) {
    window.chart_view()->setFocus();
    // What a wheel notch does, without the event's way through the window system.
    window.SetSpan(ZoomSpan(window.span(), in ? 0.8 : 1.25, 0.5));
    in = !in;
    QApplication::processEvents();
    plot->repaint();
  }
  state.counters["drawn"] = static_cast<double>(window.DrawnPoints(18).size());
  state.counters["rss_mb"] = StatusMegabytes("VmRSS");
  state.counters["peak_rss_mb"] = StatusMegabytes("VmHWM");
}
BENCHMARK(BM_RedrawAfterZoom)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zevrin

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
