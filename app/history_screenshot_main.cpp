// zevrinkiss-history-screenshot: decodes a few generated passes into an archive,
// as the desktop program would have kept them, then opens history windows on it
// and saves their pictures into <dir>:
//   all.png       several values over every pass
//   zoomed.png    one pass zoomed in
//   many.png      five values and the battery thresholds: the legend in rows
//   whole.png     a count that stays 0, on whole marks
//   empty.png     an archive without a record yet
//   no-span.png   this run, which has no record yet, of an archive that has some
//   alarm.png     a pass whose battery dips below its thresholds, the alarms shaded
//
//   zevrinkiss-history-screenshot <dir> [width height]

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "alarms/alarm_archive.h"
#include "history/history_window.h"
#include "kiss/receive_path.h"
#include "outputs/archive/archive_writer.h"
#include "outputs/frame_recorder.h"
#include "sample/sample_pass.h"
#include "views/archive_history_source.h"

namespace {

constexpr std::int64_t kFirstPassMs = 1245506709000;  // 2009-06-20 14:05:09 UTC
constexpr std::int64_t kOrbitMs = 100 * 60 * 1000;    // a pass every 100 minutes
constexpr int kPasses = 4;
constexpr int kFramesPerPass = 600;

// A clock that moves on by a little with every reading, from a settable moment.
class PassClock final : public zevrin::Clock {
 public:
  void Set(std::int64_t ms) { ms_ = ms; }
  zevrin::UtcInstant Now() const override {
    ms_ += 211;
    return {ms_ / 1000, static_cast<int>(ms_ % 1000)};
  }

 private:
  mutable std::int64_t ms_ = 0;
};

struct NoView final : zevrin::ReceiveView {
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view) override {}
};

// The desktop program's way from bytes to its frame sinks, without its windows.
struct PassReceiver {
  explicit PassReceiver(PassClock& clock)
      : receive(state, clock, view), analysis(clock), recorder(analysis, decoder, fields, clock) {
    receive.SetFrameHandler(&recorder);
    analysis.SetSatelliteDecoder(&decoder);
    recorder.SetSource("Lab", "COM1");
  }
  NoView view;
  zevrin::ReceiveState state;
  zevrin::ReceivePath receive;
  zevrin::FrameAnalysis analysis;
  zevrin::DisplayFields fields;
  zevrin::TelemetryDecoder decoder{fields};
  zevrin::FrameRecorder recorder;
};

bool WritePasses(const std::string& path, PassClock& clock) {
  PassReceiver receiver(clock);
  zevrin::ArchiveWriterOptions options;
  options.batch_frames = 100;
  zevrin::ArchiveWriter writer(nullptr, options);
  if (!writer.Open(path)) return false;
  receiver.recorder.AddSink(&writer);
  for (int pass = 0; pass < kPasses; ++pass) {
    clock.Set(kFirstPassMs + pass * kOrbitMs);
    receiver.receive.Receive(zevrin::sample::MakePass(
        {.frames = kFramesPerPass, .seed = 20090620u + static_cast<unsigned>(pass)}));
    writer.Flush();
  }
  writer.Close();
  return true;
}

// One pass whose battery dips, its alarms raised by the default rules and kept with
// it, as the desktop program keeps them.
bool WriteAlarmPass(const std::string& path, PassClock& clock) {
  PassReceiver receiver(clock);
  zevrin::ArchiveThread archive(nullptr, {});
  if (!archive.Open(path)) return false;
  zevrin::AlarmArchive kept(archive);
  zevrin::AlarmEvaluator alarms(zevrin::DefaultAlarmRules(), kept);
  receiver.recorder.AddSink(&archive);
  receiver.recorder.AddSink(&alarms);
  clock.Set(kFirstPassMs);
  receiver.receive.Receive(
      zevrin::sample::MakePass({.frames = kFramesPerPass, .battery_dip = true}));
  archive.Close();
  return true;
}

// The window as it looks once laid out, saved as `name` in `dir`.
bool Save(zevrin::HistoryWindow& window, const QString& dir, const char* name) {
  QApplication::processEvents();
  const QString path = QDir(dir).filePath(QString::fromLatin1(name));
  if (window.grab().save(path)) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  return false;
}

// A window on `source` showing `fields` over `range`, this run starting at `run_start_ms`.
bool Shoot(const zevrin::HistorySource& source, PassClock& clock, std::int64_t run_start_ms,
           std::initializer_list<int> fields, zevrin::HistoryRange range, QSize size,
           const QString& dir, const char* name) {
  zevrin::HistoryWindow window(source, clock, run_start_ms);
  window.resize(size);
  window.show();
  for (const int field : fields) window.AddValue(field);
  window.SetRange(range);
  return Save(window, dir, name);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <dir> [width height]\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const QSize size(argc >= 4 ? std::atoi(argv[2]) : 1000, argc >= 4 ? std::atoi(argv[3]) : 620);

  QTemporaryDir dir;
  const std::string path =
      QDir(dir.path()).filePath(QStringLiteral("Lab_archive.sqlite")).toStdString();
  PassClock clock;
  if (!dir.isValid() || !QDir().mkpath(out) || !WritePasses(path, clock)) {
    std::fprintf(stderr, "cannot write the archive in %s\n", qPrintable(dir.path()));
    return 1;
  }

  const zevrin::ArchiveHistorySource source(path);
  const std::int64_t now = kFirstPassMs + kPasses * kOrbitMs;
  clock.Set(now);
  zevrin::HistoryWindow window(source, clock, kFirstPassMs);
  window.resize(size);
  window.show();
  for (const int field : {18, 19, 29})
    window.AddValue(field);  // battery volts, current, temperature
  window.SetRange(zevrin::HistoryRange::kAll);
  if (!Save(window, out, "all.png")) return 1;
  // The third pass, as a box drawn around it would show it.
  const std::int64_t pass = kFirstPassMs + 2 * kOrbitMs;
  window.SetSpan({pass - 60 * 1000, pass + 5 * 60 * 1000});
  if (!Save(window, out, "zoomed.png")) return 1;

  using zevrin::HistoryRange;
  const zevrin::ArchiveHistorySource none(
      QDir(dir.path()).filePath(QStringLiteral("none.sqlite")).toStdString());
  // Volts, currents and a temperature; the emergency count; volts again.
  const bool shot =
      Shoot(source, clock, kFirstPassMs, {18, 19, 29, 21, 22}, HistoryRange::kAll, size, out,
            "many.png") &&
      Shoot(source, clock, kFirstPassMs, {5}, HistoryRange::kAll, size, out, "whole.png") &&
      Shoot(none, clock, kFirstPassMs, {18}, HistoryRange::kThisRun, size, out, "empty.png") &&
      Shoot(source, clock, now, {18}, HistoryRange::kThisRun, size, out, "no-span.png");
  const std::string alarm_path =
      QDir(dir.path()).filePath(QStringLiteral("alarm.sqlite")).toStdString();
  if (!shot || !WriteAlarmPass(alarm_path, clock)) return 1;
  const zevrin::ArchiveHistorySource alarm_source(alarm_path);
  return Shoot(alarm_source, clock, kFirstPassMs, {18}, HistoryRange::kAll, size, out, "alarm.png")
             ? 0
             : 1;
}
