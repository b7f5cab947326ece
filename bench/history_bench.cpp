// The history window, offscreen, with one value of a million points.
//
// BM_RedrawAfterZoom: one zoom step (alternately in and out around the middle, the
// whole series or most of it in view), then the events it posts and a synchronous
// repaint of the plot: the time from the user's wheel notch to the new picture.
// Counters: "drawn" the points handed to the chart after thinning, "rss_mb" and
// "peak_rss_mb" the memory of the whole process (window, series and all).
//
// BM_OpenOnArchive: a window opened on an archive file whose power table holds a
// million battery voltages, the whole series read and drawn ("All"): the wait
// after a double-click, and the memory with the reader's buffers too.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QChartView>
#include <QTemporaryDir>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>

#include "history/history_window.h"
#include "outputs/archive/archive_writer.h"
#include "views/archive_history_source.h"

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

// A slow swing, a daily ripple and noise: every column has a real minimum and maximum.
double Volts(std::int64_t i) {
  const double t = static_cast<double>(i);
  return 3.8 + 0.2 * std::sin(t / 90000) + 0.05 * std::sin(t / 700) + 0.01 * std::sin(t * 12.9898);
}

// Shows the battery voltage over all its records, drawn once, as after a double-click.
void ShowAll(HistoryWindow& window) {
  window.resize(1280, 800);
  window.show();
  window.AddValue(18);
  window.SetRange(HistoryRange::kAll);
  QApplication::processEvents();
  window.chart_view()->viewport()->repaint();
}

void Report(benchmark::State& state, std::size_t drawn) {
  state.counters["drawn"] = static_cast<double>(drawn);
  state.counters["rss_mb"] = StatusMegabytes("VmRSS");
  state.counters["peak_rss_mb"] = StatusMegabytes("VmHWM");
}

void BM_RedrawAfterZoom(benchmark::State& state) {
  MemoryHistorySource source({{18, "Battery Volts", "V"}});
  auto& series = source.Series(18);
  series.reserve(kPoints);
  for (std::int64_t i = 0; i < kPoints; ++i) series.push_back({kStart + i * kStepMs, Volts(i)});
  FixedNow clock;
  HistoryWindow window(source, clock, kStart);
  ShowAll(window);
  QWidget* plot = window.chart_view()->viewport();

  bool in = true;
  for (auto _ : state) {
    window.chart_view()->setFocus();
    // What a wheel notch does, without the event's way through the window system.
    window.SetSpan(ZoomSpan(window.span(), in ? 0.8 : 1.25, 0.5));
    in = !in;
    QApplication::processEvents();
    plot->repaint();
  }
  Report(state, window.DrawnPoints(18).size());
}
BENCHMARK(BM_RedrawAfterZoom)->Unit(benchmark::kMillisecond)->UseRealTime();

// An archive made by the program, then a million power records put straight into
// the table that stores them (the frames themselves do not matter to the plot).
bool FillArchive(const std::string& path) {
  {
    ArchiveWriter writer(nullptr);
    if (!writer.Open(path)) return false;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  bool ok = sqlite3_prepare_v2(db,
                               "INSERT INTO stored_power_housekeeping (frame_id, received_ms, "
                               "battery_volts, powersafe_threshold_volts, "
                               "emergency_threshold_volts) VALUES (?, ?, ?, 3.49, 3.33)",
                               -1, &insert, nullptr) == SQLITE_OK;
  for (std::int64_t i = 0; ok && i < kPoints; ++i) {
    sqlite3_bind_int64(insert, 1, i + 1);
    sqlite3_bind_int64(insert, 2, kStart + i * kStepMs);
    sqlite3_bind_double(insert, 3, Volts(i));
    ok = sqlite3_step(insert) == SQLITE_DONE;
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  ok = sqlite3_exec(db, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
  sqlite3_close(db);
  return ok;
}

void BM_OpenOnArchive(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string path = (dir.path() + QStringLiteral("/Lab_archive.sqlite")).toStdString();
  if (!FillArchive(path)) {
    state.SkipWithError("cannot write the archive");
    return;
  }
  const ArchiveHistorySource source(path);
  FixedNow clock;
  std::size_t drawn = 0;
  for (auto _ : state) {
    HistoryWindow window(source, clock, kStart);
    ShowAll(window);
    drawn = window.DrawnPoints(18).size();
  }
  Report(state, drawn);
}
BENCHMARK(BM_OpenOnArchive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace zevrin

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
