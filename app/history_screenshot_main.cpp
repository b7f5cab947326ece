// zevrinkiss-history-screenshot: decodes a few generated passes into an archive,
// as the desktop program would have kept them, then opens the history window on it
// and saves two pictures: several values over every pass, and one pass zoomed in.
//
//   zevrinkiss-history-screenshot <all.png> <zoomed.png> [width height]

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

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

// The desktop program's way from bytes to the archive, without its windows.
bool WritePasses(const std::string& path, PassClock& clock) {
  NoView view;
  zevrin::ReceiveState state;
  zevrin::ReceivePath receive(state, clock, view);
  zevrin::FrameAnalysis analysis(clock);
  zevrin::DisplayFields fields;
  zevrin::TelemetryDecoder decoder(fields);
  zevrin::FrameRecorder recorder(analysis, decoder, fields, clock);
  zevrin::ArchiveWriterOptions options;
  options.batch_frames = 100;
  zevrin::ArchiveWriter writer(nullptr, options);
  if (!writer.Open(path)) return false;
  receive.SetFrameHandler(&recorder);
  analysis.SetSatelliteDecoder(&decoder);
  recorder.SetSource("Lab", "COM1");
  recorder.AddSink(&writer);
  for (int pass = 0; pass < kPasses; ++pass) {
    clock.Set(kFirstPassMs + pass * kOrbitMs);
    receive.Receive(zevrin::sample::MakePass(
        {.frames = kFramesPerPass, .seed = 20090620u + static_cast<unsigned>(pass)}));
    writer.Flush();
  }
  writer.Close();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <all.png> <zoomed.png> [width height]\n", argv[0]);
    return 2;
  }
  const int width = argc >= 5 ? std::atoi(argv[3]) : 1000;
  const int height = argc >= 5 ? std::atoi(argv[4]) : 620;

  QTemporaryDir dir;
  const std::string path =
      QDir(dir.path()).filePath(QStringLiteral("Lab_archive.sqlite")).toStdString();
  PassClock clock;
  if (!dir.isValid() || !WritePasses(path, clock)) {
    std::fprintf(stderr, "cannot write the archive in %s\n", qPrintable(dir.path()));
    return 1;
  }

  const zevrin::ArchiveHistorySource source(path);
  clock.Set(kFirstPassMs + kPasses * kOrbitMs);
  zevrin::HistoryWindow window(source, clock, kFirstPassMs);
  window.resize(width, height);
  window.show();
  for (const int field : {18, 19, 29})
    window.AddValue(field);  // battery volts, current, temperature
  window.SetRange(zevrin::HistoryRange::kAll);
  QApplication::processEvents();
  if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }

  // The third pass, as a box drawn around it would show it.
  const std::int64_t pass = kFirstPassMs + 2 * kOrbitMs;
  window.SetSpan({pass - 60 * 1000, pass + 5 * 60 * 1000});
  QApplication::processEvents();
  if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
