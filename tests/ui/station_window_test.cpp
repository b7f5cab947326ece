// The whole program around the main window, on a pseudo-terminal the test opens as
// "COM1" or a software TNC on 127.0.0.1 played by a QTcpServer. The clock
// synchronisation asks the test's own TIME server, and the clock is never set.

#include "session/station_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <memory>
#include <random>

#include "adapters/qt_serial_port.h"
#include "adapters/qt_tcp_link.h"
#include "link/pty.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "support/kiss_server.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"
#include "windows/about_window.h"
#include "windows/status_window.h"
namespace zevrin {

// Takes the URLs the program asks the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  Q_INVOKABLE void Open(const QUrl& url) { urls.push_back(url); }
  std::vector<QUrl> urls;
};

namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using ::testing::ElementsAre;
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
    delete CurrentAboutWindow();
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
  // Writes into the port and waits until the window has received every byte.
  void Send(testing::Pty& pty, std::string_view bytes) {
    Send(bytes, [&](std::string_view b) {
      return pty.Write({reinterpret_cast<const std::uint8_t*>(b.data()), b.size()});
    });
  }
  template <typename Write>
  void Send(std::string_view bytes, Write write) {
    const std::int32_t& count = program_.station.receive.byte_count;
    const std::int32_t before = count;
    ASSERT_TRUE(write(bytes));
    ASSERT_TRUE(WaitFor([&] { return count - before == std::ssize(bytes); }));
  }
  // Writes to the TNC's socket in pieces of random size.
  void Send(QTcpSocket& tnc, std::string_view bytes) {
    Send(bytes, [&](std::string_view b) {
      for (std::size_t pos = 0, n = 0; pos < b.size(); pos += n) {
        n = std::min<std::size_t>(1 + rng_() % 600, b.size() - pos);
        tnc.write(b.data() + pos, static_cast<qint64>(n));
        if (rng_() % 4 == 0) QTest::qWait(1);
      }
      return true;
    });
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

  // Opens each menu from the menu bar and hovers each entry: the status message stays
  // and nothing covers it meanwhile.
  void BrowseMenus() {
    QMenuBar* bar = Window().menuBar();
    for (QAction* title : bar->actions()) {
      QMenu* menu = title->menu();
      QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(title).center());
      ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }, 2000));
      for (QAction* action : menu->actions()) {
        QTest::mouseMove(menu, menu->actionGeometry(action).center());
        QTest::qWait(20);
        EXPECT_EQ(Window().statusBar()->currentMessage(), "") << action->text().toStdString();
        EXPECT_TRUE(Child<QLabel>("StatusText")->isVisible());
      }
      QTest::keyClick(menu, Qt::Key_Escape);
      QTest::keyClick(bar, Qt::Key_Escape);
      ASSERT_TRUE(WaitFor([&] { return !menu->isVisible(); }, 2000));
    }
    EXPECT_EQ(Window().StatusText(), kInvalidReply);
  }

  testing::TempDir dir_{"station-window"};
  StationWindowConfig config_{{(dir_ / "zevrinkiss.ini").string(), dir_.string()}, dir_.string()};
  testing::FixedClock clock_{{FromCivil({2009, 6, 20, 10, 0, 0}), 0}};
  DesktopProgram program_{clock_};
  testing::NoClockSetter setter_;
  testing::Pty pty_;
  QTcpServer time_server_;
  std::unique_ptr<StationWindow> station_;
  std::mt19937 rng_{3};
};

// Closing the main window runs shutdown at once, which deletes the empty logs; the
// program ends when its last other window has closed. A later start appends.
TEST_F(StationWindowTest, LogsAreDeletedWhenEmptyAndAppendedToWhenTheyExist) {
  Start();
  Child<QAction>("Mnu_ASCII_Hexdump")->trigger();  // after start-up: dump logs open now
  EXPECT_THAT(dir_.Files(".hex"), ElementsAre("Lab_20062009_1000.hex"));
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
  Send(pty_, Raw({0xC0, 0x00, 0x02}));
  Child<QAction>("MnuClear")->trigger();  // the frame in progress goes on
  Send(pty_, Raw({0x03, 0xC0}));
  QSignalSpy exited(station_.get(), &StationWindow::Ended);
  Child<QAction>("MnuExit")->trigger();
  Window().close();  // closing as well runs shutdown only once
  EXPECT_EQ(exited.count(), 1);
  EXPECT_EQ(dir_.Contents(kLog), Raw({0xC0, 0x00, 0x01, 0xC0, 0xC0, 0x00, 0x02, 0x03, 0xC0}));
}

// The setup dialog restarts the main window on the new port; the other windows stay
// open, and the status bar keeps its message through the restart and while menus open,
// are hovered and close.
TEST_F(StationWindowTest, SetupRestartsOnTheNewPortAndKeepsWindowsAndTheStatusMessage) {
  testing::Pty com12;
  fs::create_symlink(com12.slave_path(), dir_ / "com12");
  Start();
  StatusWindowWidget* status = program_.status_windows.Open(StatusWindow::kGps);
  AboutWindow* about = OpenAboutWindow();
  Send(pty_, Raw({0xC0, 0x00, 0x01, 0xC0}));
  ASSERT_TRUE(WaitFor([&] { return Window().StatusText() == kInvalidReply; }));
  BrowseMenus();

  Child<QAction>("MnuSetup")->trigger();
  Child<QAction>("MnuSetup")->trigger();  // raises the open dialog
  ASSERT_EQ(Window().findChildren<SetupDialog*>().size(), 1);
  SetupDialog* dialog = station_->setup_dialog();
  const std::pair<const char*, const char*> choices[] = {{"PortList", "COM12"},
                                                         {"SpeedList", "115200"},
                                                         {"DataList", "7"},
                                                         {"ParityList", "E"},
                                                         {"StopList", "2"}};
  for (const auto& [list, entry] : choices) {
    auto* box = dialog->findChild<QComboBox*>(QString::fromLatin1(list));
    box->setCurrentIndex(box->findText(QString::fromLatin1(entry)));
  }
  QSignalSpy restarted(station_.get(), &StationWindow::Restarted);
  dialog->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
  ASSERT_TRUE(WaitFor([&] { return restarted.count() == 1; }));

  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), "12,115200,E,7,2\r\n127.0.0.1\r\nLab\r\n");
  EXPECT_EQ(PortLabel(), "COM12 115200,E,7,2 initialized ");
  ASSERT_EQ(program_.status_windows.Window(StatusWindow::kGps), status);
  ASSERT_EQ(CurrentAboutWindow(), about);
  EXPECT_TRUE(status->isVisible() && about->isVisible());

  Send(com12, Raw({0xC0, 0x00, 0x02, 0xC0}));  // received on the new port
  EXPECT_EQ(dir_.Contents(kLog), Raw({0xC0, 0x00, 0x01, 0xC0, 0xC0, 0x00, 0x02, 0xC0}));
  ASSERT_TRUE(WaitFor([&] { return Window().StatusText() == kInvalidReply; }));
  BrowseMenus();
}

// Starts on the port the settings file names: the TNC button and each typed key that
// brings a character go out there one byte each, the arrows only move the cursor. When
// that port hangs up it is closed at once, reported once, and nothing keeps polling it.
TEST_F(StationWindowTest, StartsOnThePortOfTheSettingsFileAndSurvivesItsHangUp) {
  testing::Pty com3;
  fs::create_symlink(com3.slave_path(), dir_ / "com3");
  Start("03,19200,n,8,1");
  TickAt(3);
  EXPECT_FALSE(Child<QLabel>("PortOpenPicture")->isHidden());
  Child<QPushButton>("Command4")->click();
  auto* terminal = Child<QLineEdit>("Text2");
  QTest::keyClicks(terminal, QStringLiteral("KS"));
  QTest::keyClick(terminal, Qt::Key_Left);
  QTest::keyClicks(terminal, QStringLiteral("I"));
  EXPECT_EQ(terminal->text(), "KIS");  // the line still takes the keys it reports
  QTest::keyClick(terminal, Qt::Key_Return);
  QTest::keyClick(terminal, Qt::Key_Escape);
  Bytes sent;
  WaitFor([&] { return com3.ReadInto(sent) >= 9; });
  EXPECT_THAT(sent, ElementsAre(0x1B, 0x40, 0x6B, 0x0D, 0x4B, 0x53, 0x49, 0x0D, 0x1B));

  com3.CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return !station_->port()->IsOpen(); }, 1000));
  QTest::qWait(50);
  EXPECT_LT(testing::CpuMicrosWhileWaiting(500), 50000);  // under 10 % of one core
  TickAt(5);
  EXPECT_FALSE(station_->port()->IsOpen());
  EXPECT_FALSE(Child<QLabel>("PortClosedPicture")->isHidden());
  EXPECT_EQ(Window().StatusText(), "COM3 lost (the other end went away): port closed");
}

// A log that cannot be written has one notice, updated in place (its texts are the
// core's): first the frames it misses, then since when it is written again.
TEST_F(StationWindowTest, LogNoticeIsOneBoxUpdatedInPlace) {
  config_.paths.log_directory = (dir_ / "logs").string();
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

  fs::create_directories(dir_ / "logs");
  std::string frames;
  for (int i = 0; i < 10; ++i) frames += "\xC0\x00" + std::string(500, 'x') + "\xC0";
  Send(pty_, frames);
  EXPECT_TRUE(WaitFor([&] { return box->text().contains("is written again since 10:00:00 UTC"); }))
      << box->text().toStdString();
  EXPECT_EQ(notices().size(), 1);
  delete box;
}

// The port is found beside the settings file before the working directory; the logs
// go to their own folder, which the About window names (both ends showing) and "Open
// Log Folder" hands to the desktop.
TEST_F(StationWindowTest, PortBesideTheSettingsAndLogsInTheirFolderWhichIsShownAndOpened) {
  const fs::path logs = dir_ / "data", work = dir_ / "work";
  for (const fs::path& folder : {logs, work}) fs::create_directories(folder);
  fs::create_symlink("/dev/null", work / "com1");
  config_.paths.log_directory = logs.string();
  config_.port_directory = work.string();
  Start();
  ASSERT_TRUE(station_->port()->IsOpen());
  EXPECT_EQ(station_->port()->device(), pty_.slave_path());
  EXPECT_TRUE(fs::exists(logs / kLog));

  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  Child<QAction>("MnuOpenLogFolder")->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(catcher.urls.size(), 1u);
  EXPECT_EQ(catcher.urls[0].toLocalFile().toStdString(), logs.string());

  Child<QAction>("MnuAbout")->trigger();
  ASSERT_NE(CurrentAboutWindow(), nullptr);
  const auto* shown = CurrentAboutWindow()->findChild<QLabel*>(QStringLiteral("LogFolder"));
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->toolTip().toStdString(), logs.string());
  EXPECT_TRUE(shown->text().startsWith(QStringLiteral("/")));
  EXPECT_TRUE(shown->text().endsWith(QStringLiteral("data")));
  EXPECT_LE(shown->fontMetrics().horizontalAdvance(shown->text()), shown->width());
}

// The real link wired to the station: frames cut at random arrive byte for byte; the
// TNC stops and starts again on the same port and is connected again within 4 s, the
// frame cut by the drop is never logged, the loss is told once, nothing is ever sent,
// and the KISS-mode button and the terminal are off.
TEST_F(StationWindowTest, TcpTncIsReadAndReconnectedAndNothingIsSent) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
  const quint16 port = server.serverPort();
  const QString address = QStringLiteral("TCP 127.0.0.1:%1 ").arg(port);
  Start("tcp:127.0.0.1:" + std::to_string(port));
  QTcpSocket* tnc = Accept(server);
  ASSERT_NE(tnc, nullptr);
  ASSERT_TRUE(WaitFor([&] { return PortLabel() == address + "connected"; }));
  TickAt(1);
  EXPECT_FALSE(Child<QLabel>("PortOpenPicture")->isHidden());
  EXPECT_FALSE(Child<QWidget>("Command4")->isEnabled());
  EXPECT_FALSE(Child<QWidget>("Text2")->isEnabled());

  const std::vector<Bytes> frames = testing::LoggedFrames(sample::MakePass({.frames = 60}));
  const Bytes& split = frames[30];  // cut by the drop after 20 bytes
  const std::string first =
      testing::Concat(std::vector<Bytes>(frames.begin(), frames.begin() + 30));
  const std::string second = testing::Concat(std::vector<Bytes>(frames.begin() + 30, frames.end()));
  Send(*tnc, first + std::string(split.begin(), split.begin() + 20));
  EXPECT_TRUE(dir_.Contents(kLog) == first);

  QStringList messages;
  QObject::connect(station_->window(), &MainWindow::StatusTextChanged,
                   [&](const QString& text) { messages.append(text); });
  tnc->abort();
  server.close();
  ASSERT_TRUE(WaitFor([&] { return PortLabel() == address + "not connected"; }));
  TickAt(2);
  EXPECT_TRUE(Child<QLabel>("PortOpenPicture")->isHidden());
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
  EXPECT_EQ(messages.filter(QStringLiteral(" lost (")).size(), 1)
      << messages.join('|').toStdString();
  EXPECT_EQ(tnc->bytesAvailable(), 0);  // nothing was sent on connecting
}

// Refused: told once, tried again every 3 s, and the processor stays idle meanwhile.
TEST_F(StationWindowTest, RefusedTcpConnectionIsTriedEvery3sWithoutBusyLoop) {
  Start("tcp:127.0.0.1:" + std::to_string(testing::KissServer::FreePort()));
  QElapsedTimer clock;
  clock.start();
  std::vector<std::pair<qint64, QString>> failures;
  QObject::connect(station_->tcp_link(), &QtTcpLink::Disconnected, [&](const QString& message) {
    failures.emplace_back(clock.elapsed(), message);
  });
  EXPECT_LT(testing::CpuMicrosWhileWaiting(6500), 325000);  // under 5 % of one core
  ASSERT_TRUE(failures.size() == 2u || failures.size() == 3u) << failures.size();
  EXPECT_TRUE(failures[0].second.contains(QStringLiteral("cannot connect")));
  for (std::size_t i = 1; i < failures.size(); ++i) {
    EXPECT_TRUE(failures[i].second.isEmpty());
    EXPECT_NEAR(failures[i].first - failures[i - 1].first, 3000, 500);
  }
  EXPECT_TRUE(PortLabel().endsWith(" not connected"));
}

}  // namespace
}  // namespace zevrin

#include "station_window_test.moc"
