// The whole program on KISS over TCP: a software TNC played by a QTcpServer on
// 127.0.0.1 at a free port, started, stopped and started again by the test.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <random>

#include "adapters/qt_tcp_link.h"
#include "sample/sample_pass.h"
#include "session/station_window.h"
#include "support/fakes.h"
#include "support/kiss_server.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Bytes;
using testing::Concat;
using testing::WaitFor;

class TcpStationTest : public ::testing::Test {
 protected:
  static constexpr char kLog[] = "Lab_20062009_1000.kss";

  void TearDown() override {
    station_.reset();
    program_.status_windows.CloseAll();
  }
  void SetUp() override {
    // The clock synchronisation asks a port nothing answers on: no traffic leaves.
    config_.time_port = testing::KissServer::FreePort();
  }
  void Start(std::uint16_t port) {
    address_ = "127.0.0.1:" + std::to_string(port);
    dir_.Write("zevrinkiss.ini", "tcp:" + address_ + "\r\n127.0.0.1\r\nLab\r\n");
    station_ = std::make_unique<StationWindow>(program_, setter_, config_);
    station_->Start();
  }
  template <typename T>
  T* Child(const char* name) const {
    return station_->window()->findChild<T*>(QString::fromLatin1(name));
  }
  bool LabelIs(const std::string& state) const {
    return Child<QLabel>("PortLabel")->text().toStdString() == "TCP " + address_ + " " + state;
  }
  // Takes the program's connection and keeps it as the TNC's side.
  QTcpSocket* Accept(QTcpServer& server, int ms = 20000) {
    if (!WaitFor([&] { return server.hasPendingConnections(); }, ms)) return nullptr;
    return server.nextPendingConnection();
  }
  // Writes `bytes` in pieces of random size and waits until the program has them all.
  void Send(QTcpSocket& tnc, const Bytes& bytes) {
    const std::int32_t& count = program_.station.receive.byte_count;
    const std::int32_t before = count;
    for (std::size_t pos = 0, n = 0; pos < bytes.size(); pos += n) {
      n = std::min<std::size_t>(1 + rng_() % 600, bytes.size() - pos);
      tnc.write(reinterpret_cast<const char*>(bytes.data() + pos), static_cast<qint64>(n));
      if (rng_() % 4 == 0) QTest::qWait(1);
    }
    ASSERT_TRUE(WaitFor([&] { return count - before == std::ssize(bytes); }));
  }
  bool PortPictureOpen() const {
    clock_.Set({clock_.Now().seconds + 1, 0});  // the next tick shows the picture
    QTest::qWait(1100);
    return !Child<QLabel>("PortOpenPicture")->isHidden();
  }

  testing::TempDir dir_{"tcp-station"};
  StationWindowConfig config_{{(dir_ / "zevrinkiss.ini").string(), dir_.string()}, dir_.string()};
  mutable testing::FixedClock clock_{{FromCivil({2009, 6, 20, 10, 0, 0}), 0}};
  DesktopProgram program_{clock_};
  testing::NoClockSetter setter_;
  std::unique_ptr<StationWindow> station_;
  std::string address_;
  std::mt19937 rng_{3};
};

// The real link wired to the station: frames cut at random arrive byte for byte; the
// TNC stops and starts again on the same port and is connected again within 4 s, the
// frame cut by the drop is never logged, the loss is told once, nothing is ever sent,
// and the KISS-mode button and the terminal are off.
TEST_F(TcpStationTest, ReceivesReconnectsAndStaysQuiet) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
  const quint16 port = server.serverPort();
  Start(port);
  QTcpSocket* tnc = Accept(server);
  ASSERT_NE(tnc, nullptr);
  ASSERT_TRUE(WaitFor([&] { return LabelIs("connected"); }));
  EXPECT_TRUE(PortPictureOpen());
  EXPECT_FALSE(Child<QWidget>("Command4")->isEnabled());
  EXPECT_FALSE(Child<QWidget>("Text2")->isEnabled());

  const std::vector<Bytes> frames = testing::LoggedFrames(sample::MakePass({.frames = 60}));
  const Bytes& split = frames[30];  // cut by the drop after 20 bytes
  const std::string first = Concat(std::vector<Bytes>(frames.begin(), frames.begin() + 30));
  const std::string second = Concat(std::vector<Bytes>(frames.begin() + 30, frames.end()));
  Bytes cut(first.begin(), first.end());
  cut.insert(cut.end(), split.begin(), split.begin() + 20);
  Send(*tnc, cut);
  EXPECT_TRUE(dir_.Contents(kLog) == first);

  QStringList messages;
  QObject::connect(station_->window(), &MainWindow::StatusTextChanged,
                   [&](const QString& text) { messages.append(text); });
  tnc->abort();
  server.close();
  ASSERT_TRUE(WaitFor([&] { return LabelIs("not connected"); }));
  EXPECT_FALSE(PortPictureOpen());
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
  QElapsedTimer restarted;
  restarted.start();
  tnc = Accept(server, 6000);
  ASSERT_NE(tnc, nullptr);
  EXPECT_LE(restarted.elapsed(), 4000);
  ASSERT_TRUE(WaitFor([&] { return LabelIs("connected"); }));
  // The new stream begins inside a frame: those bytes are dropped, not joined.
  Bytes rest(split.begin() + 20, split.end());
  rest.insert(rest.end(), second.begin(), second.end());
  Send(*tnc, rest);
  EXPECT_TRUE(dir_.Contents(kLog) == first + second);
  EXPECT_EQ(messages.filter(QStringLiteral(" lost (")).size(), 1)
      << messages.join('|').toStdString();
  EXPECT_EQ(tnc->bytesAvailable(), 0);  // nothing was sent on connecting
}

// Refused: told once, tried again every 3 s, and the processor stays idle meanwhile.
TEST_F(TcpStationTest, RefusedConnectionIsTriedEvery3sWithoutBusyLoop) {
  Start(testing::KissServer::FreePort());
  QElapsedTimer clock;
  clock.start();
  std::vector<std::pair<qint64, QString>> failures;
  QObject::connect(station_->tcp_link(), &QtTcpLink::Disconnected, [&](const QString& message) {
    failures.emplace_back(clock.elapsed(), message);
  });
  EXPECT_LT(testing::CpuMicrosWhileWaiting(6500), 325000);  // under 5 % of one core
  ASSERT_GE(failures.size(), 2u);
  EXPECT_LE(failures.size(), 3u);
  EXPECT_TRUE(failures[0].second.contains(QStringLiteral("cannot connect")));
  for (std::size_t i = 1; i < failures.size(); ++i) {
    EXPECT_TRUE(failures[i].second.isEmpty());
    EXPECT_NEAR(failures[i].first - failures[i - 1].first, 3000, 500);
  }
  EXPECT_TRUE(LabelIs("not connected"));
}

}  // namespace
}  // namespace zevrin
