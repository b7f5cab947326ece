// The whole program around the main window, on a pseudo-terminal the test opens as
// "COM1" or a software TNC on 127.0.0.1 played by a QTcpServer. The clock
// synchronisation asks the test's own TIME server, and the clock is never set.
// The rules behind the texts are the station's core tests; here the wiring.

#include "session/station_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <filesystem>
#include <memory>

#include "adapters/qt_serial_port.h"
#include "archive/archive_support.h"
#include "history/history_window.h"
#include "link/pty.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "support/kiss_server.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"
#include "views/archive_history_source.h"
#include "windows/status_window.h"
namespace zevrin {

namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using ::testing::IsEmpty;
using testing::WaitFor;

std::string Raw(std::initializer_list<std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

const QString kInvalidReply = QStringLiteral("Time passed not valid. Clock not synchronised");

class StationWindowTest : public ::testing::Test {
 protected:
  static constexpr char kLog[] = "Lab_20062009_1000.kss";

  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    fs::create_symlink(pty_.slave_path(), dir_ / "com1");
    // As after an earlier start: a settings file without line 2 asks no real server.
    program_.station.settings.time_server_host = "127.0.0.1";
    // The time server is the test's own; its reply is one byte too long.
    ASSERT_TRUE(time_server_.listen(QHostAddress::LocalHost, 0));
    config_.time_port = time_server_.serverPort();
    QObject::connect(&time_server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* peer = time_server_.nextPendingConnection()) {
        peer->write(QByteArray::fromHex("CDE74DC000"));
        peer->disconnectFromHost();
      }
    });
  }
  void TearDown() override {
    station_.reset();
    program_.status_windows.CloseAll();
  }

  // Writes line 1 of the settings and starts the program.
  void Start(const std::string& line1 = "01,9600,N,8,1") {
    dir_.Write("zevrinkiss.ini", line1 + "\r\n127.0.0.1\r\nLab\r\n");
    station_ = std::make_unique<StationWindow>(program_, setter_, config_);
    station_->Start();
  }
  MainWindow& Window() const { return *station_->window(); }
  template <typename T>
  T* Child(const char* name) const {
    return Window().findChild<T*>(QString::fromLatin1(name));
  }
  // Writes into the port or the TNC's socket and waits until the window has received
  // every byte.
  template <typename Peer>
  void Send(Peer& peer, std::string_view bytes) {
    const std::int32_t& count = program_.station.receive.byte_count;
    const std::int32_t before = count;
    if constexpr (std::is_same_v<Peer, QTcpSocket>) {
      peer.write(bytes.data(), std::ssize(bytes));
    } else {
      ASSERT_TRUE(peer.Write({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
    }
    ASSERT_TRUE(WaitFor([&] { return count - before == std::ssize(bytes); }));
  }
  QString PortLabel() const { return Child<QLabel>("PortLabel")->text(); }
  QTcpSocket* Accept(QTcpServer& server, int ms = 20000) {
    if (!WaitFor([&] { return server.hasPendingConnections(); }, ms)) return nullptr;
    return server.nextPendingConnection();
  }
  // Lets the tick run until the clock label shows the injected time.
  void TickAt(int second) {
    clock_.Set({FromCivil({2009, 6, 20, 10, 0, second}), 0});
    ASSERT_TRUE(WaitFor([&] {
      return Child<QLabel>("ClockLabel")->text() == QString::asprintf("10:00:%02d", second);
    }));
  }

  testing::TempDir dir_{"station-window"};
  StationWindowConfig config_{
      {dir_.Path("zevrinkiss.ini"), dir_.string()}, dir_.string(), kTimePort, {}};
  testing::FixedClock clock_{{FromCivil({2009, 6, 20, 10, 0, 0}), 0}};
  DesktopProgram program_{clock_};
  testing::NoClockSetter setter_;
  testing::Pty pty_;
  QTcpServer time_server_;
  std::unique_ptr<StationWindow> station_;
};

// Closing the main window runs shutdown at once, which deletes the empty logs; the
// program ends when its last other window has closed. A later start appends.
TEST_F(StationWindowTest, LogsAreDeletedWhenEmptyAndAppendedToWhenTheyExist) {
  Start();
  StatusWindowWidget* status = program_.status_windows.Open(StatusWindow::kSystem);
  QSignalSpy ended(station_.get(), &StationWindow::Ended);
  Window().close();
  for (const char* ext : {".kss", ".dmp", ".hex"}) EXPECT_THAT(dir_.Files(ext), IsEmpty()) << ext;
  EXPECT_EQ(ended.count(), 0);  // a status window is still open
  status->close();
  EXPECT_TRUE(WaitFor([&] { return ended.count() == 1; }));
  station_.reset();

  dir_.Write(kLog, Raw({0xC0, 0x00, 0x01, 0xC0}));
  Start();
  Send(pty_, Raw({0xC0, 0x00, 0x02, 0x03, 0xC0}));
  QSignalSpy exited(station_.get(), &StationWindow::Ended);
  Child<QAction>("MnuExit")->trigger();
  Window().close();  // closing as well runs shutdown only once
  EXPECT_EQ(exited.count(), 1);
  EXPECT_EQ(dir_.Contents(kLog), Raw({0xC0, 0x00, 0x01, 0xC0, 0xC0, 0x00, 0x02, 0x03, 0xC0}));
}

// Starts on the port the settings file names: the TNC button and each typed key that
// brings a character go out there one byte each, the arrows only move the cursor. When
// that port hangs up it is closed at once, reported once, and nothing keeps polling it.
TEST_F(StationWindowTest, StartsOnThePortOfTheSettingsFileAndSurvivesItsHangUp) {
  testing::Pty com3;
  fs::create_symlink(com3.slave_path(), dir_ / "com3");
  Start("03,19200,n,8,1");
  // The clock synchronisation asked the test's server, whose reply sets nothing.
  ASSERT_TRUE(WaitFor([&] { return Window().StatusText() == kInvalidReply; }));
  TickAt(3);
  EXPECT_FALSE(Child<QLabel>("PortOpenPicture")->isHidden());
  Child<QPushButton>("Command4")->click();
  auto* terminal = Child<QLineEdit>("Text2");
  for (const Qt::Key key :
       {Qt::Key_K, Qt::Key_S, Qt::Key_Left, Qt::Key_I, Qt::Key_Return, Qt::Key_Escape})
    QTest::keyClick(terminal, key);
  Bytes sent;
  WaitFor([&] { return com3.ReadInto(sent) >= 9; });
  EXPECT_THAT(sent, ::testing::ElementsAre(0x1B, 0x40, 0x6B, 0x0D, 'k', 's', 'i', 0x0D, 0x1B));

  com3.CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return !station_->port()->IsOpen(); }, 1000));
  QTest::qWait(50);
  EXPECT_LT(testing::CpuMicrosWhileWaiting(500), 50000);  // under 10 % of one core
  TickAt(5);
  EXPECT_FALSE(station_->port()->IsOpen());
  EXPECT_FALSE(Child<QLabel>("PortClosedPicture")->isHidden());
  EXPECT_EQ(Window().StatusText(), "COM3 lost (the other end went away): port closed");
}

// Logs in a folder of their own that is missing at first: one notice, updated in place
// (its texts are the core's), first the frames missed, then since when the log is
// written again.
TEST_F(StationWindowTest, LogNoticeIsOneBoxUpdatedInPlace) {
  const fs::path logs = dir_ / "logs";
  config_.paths.log_directory = logs.string();
  Start();
  const auto notices = [] {
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      // The archive beside the logs has a notice of its own.
      if (box != nullptr && box->objectName() == "LogNotice" && box->isVisible() &&
          box->text().startsWith("The raw log"))
        boxes << box;
    }
    return boxes;
  };
  for (int i = 0; i < 3; ++i) Send(pty_, Raw({0xC0, 0x00, 0x41, 0xC0}));
  ASSERT_EQ(notices().size(), 1);
  QMessageBox* box = notices().front();
  EXPECT_FALSE(box->isModal());
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_TRUE(WaitFor([&] { return box->text().contains(" 3 frames missed since 10:00:00 UTC"); }))
      << box->text().toStdString();
  fs::create_directories(logs);
  std::string frames;
  for (int i = 0; i < 10; ++i) frames += "\xC0\x00" + std::string(500, 'x') + "\xC0";
  Send(pty_, frames);
  EXPECT_TRUE(WaitFor([&] { return box->text().contains("is written again since 10:00:00 UTC"); }))
      << box->text().toStdString();
  EXPECT_EQ(notices().size(), 1);
  delete box;
}

// The real link wired to the station: frames arrive byte for byte; the TNC stops and
// starts again on the same port and is connected again within 4 s, the frame cut by
// the drop is never logged, nothing is ever sent, and the TNC controls are off.
TEST_F(StationWindowTest, TcpTncIsReadAndReconnectedAndNothingIsSent) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
  const quint16 port = server.serverPort();
  const QString address = QStringLiteral("TCP 127.0.0.1:%1 ").arg(port);
  Start("tcp:127.0.0.1:" + std::to_string(port));
  QTcpSocket* tnc = Accept(server);
  ASSERT_NE(tnc, nullptr);
  ASSERT_TRUE(WaitFor([&] { return PortLabel() == address + "connected"; }));
  EXPECT_FALSE(Child<QWidget>("Command4")->isEnabled() || Child<QWidget>("Text2")->isEnabled());

  const std::vector<Bytes> frames = testing::LoggedFrames(sample::MakePass({.frames = 60}));
  const Bytes& split = frames[30];  // cut by the drop after 20 bytes
  const std::string first =
      testing::Concat(std::vector<Bytes>(frames.begin(), frames.begin() + 30));
  const std::string second = testing::Concat(std::vector<Bytes>(frames.begin() + 30, frames.end()));
  Send(*tnc, first + std::string(split.begin(), split.begin() + 20));
  EXPECT_TRUE(dir_.Contents(kLog) == first);

  tnc->abort();
  server.close();
  ASSERT_TRUE(WaitFor([&] { return PortLabel() == address + "not connected"; }));
  // Refused meanwhile, tried again every 3 s, and the processor stays idle.
  EXPECT_LT(testing::CpuMicrosWhileWaiting(3500), 175000);  // under 5 % of one core
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, port));
  QElapsedTimer restarted;
  restarted.start();
  tnc = Accept(server, 6000);
  ASSERT_NE(tnc, nullptr);
  EXPECT_LE(restarted.elapsed(), 4000);
  ASSERT_TRUE(WaitFor([&] { return PortLabel() == address + "connected"; }));
  // The new stream begins inside a frame: those bytes are dropped, not joined.
  Send(*tnc, std::string(split.begin() + 20, split.end()) + second);
  EXPECT_TRUE(dir_.Contents(kLog) == first + second);
  EXPECT_EQ(tnc->bytesAvailable(), 0);  // nothing was sent on connecting
}

// A station whose archive already holds a pass: double-click on the battery voltage
// opens its trend (once) with what the archive holds; a field that holds no number
// opens none. Ending the station closes the trend.
TEST_F(StationWindowTest, FieldsOpenTheirTrendFromTheStationsArchive) {
  const std::string archive = ArchiveFileName(dir_.string(), "Lab");
  testing::SteppingClock pass_clock(FromCivil({2009, 6, 20, 9, 0, 0}) * 1000, 500);
  ArchiveWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(archive));
  testing::Receiver(pass_clock, {&writer}).Receive(sample::MakePass({.frames = 300}));
  writer.Close();
  Start();
  for (const char* field : {"Text1_18", "Text1_18", "Text1_0"})  // 0, "Mode": no number
    QTest::mouseDClick(Child<QLineEdit>(field), Qt::LeftButton);
  ASSERT_EQ(station_->history_windows().windows().size(), 1u);
  HistoryWindow* volts = station_->history_windows().windows()[0];
  EXPECT_THAT(volts->ShownFields(), ::testing::ElementsAre(18));
  std::vector<HistoryPoint> recorded;
  ArchiveHistorySource(archive).ReadSeries(18, {kBeginningOfTime, kEndOfTime}, recorded);
  ASSERT_GT(recorded.size(), 20u);
  // Zoomed to the pass, every record has a pixel column of its own.
  volts->SetSpan({recorded.front().utc_ms, recorded.back().utc_ms + 1});
  EXPECT_EQ(volts->DrawnPoints(18), recorded);
  station_->End();
  EXPECT_THAT(station_->history_windows().windows(), IsEmpty());
}

}  // namespace
}  // namespace zevrin
