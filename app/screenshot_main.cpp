// zevrinkiss-screenshot: feeds a KISS stream into the main window, as the serial
// port would, and saves a picture of the window.
//
//   zevrinkiss-screenshot <stream.kss> <picture.png> [width height]

#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <cstdio>
#include <span>
#include <vector>

#include "platform/time_of_day.h"
#include "ui/main_window.h"

namespace {

// A clock that advances a little with every reading, so the time stamps of the
// monitor look like those of a real pass.
class PassClock final : public zevrin::Clock {
 public:
  explicit PassClock(std::int64_t start) : millis_(start * 1000) {}
  zevrin::UtcInstant Now() const override {
    millis_ += 137;
    return {millis_ / 1000, static_cast<int>(millis_ % 1000)};
  }

 private:
  mutable std::int64_t millis_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <stream.kss> <picture.png> [width height]\n", argv[0]);
    return 2;
  }
  QFile input(QString::fromLocal8Bit(argv[1]));
  if (!input.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const QByteArray stream = input.readAll();
  const int width = argc >= 5 ? std::atoi(argv[3]) : 1280;
  const int height = argc >= 5 ? std::atoi(argv[4]) : 800;

  PassClock clock(1245506709);  // 2009-06-20 14:05:09 UTC
  zevrin::ProgramState program(clock);
  zevrin::MainWindow window(program);
  window.SetTitle(
      QStringLiteral("ZEVRIN TARVELO Housekeeping Data Decoder V. 1.7.4          [Lab]"));
  window.resize(width, height);
  window.show();

  // What start-up and the tick would show with the port open.
  window.SetPortLabel(QStringLiteral("COM1 9600,N,8,1 initialized "));
  window.ShowPortOpen(true);

  // Notifications of a few hundred bytes, like a serial port at 115,200 baud.
  constexpr qsizetype kChunk = 384;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.constData());
  for (qsizetype pos = 0; pos < stream.size(); pos += kChunk) {
    const qsizetype n = std::min(kChunk, stream.size() - pos);
    window.Receive(std::span<const std::uint8_t>(bytes + pos, static_cast<std::size_t>(n)));
    QApplication::processEvents();
  }
  window.SetClockLabel(QStringLiteral("14:21:47"));
  window.SetLastPacketLabel(QStringLiteral("1 sec since last packet [2]"));
  QApplication::processEvents();

  if (!window.grab().save(QString::fromLocal8Bit(argv[2]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
