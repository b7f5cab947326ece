// The whole main window set, offscreen, on pseudo-terminals the tests open: start-up
// from the settings file, logs, restart through the setup dialog, the TNC button and
// terminal, and a port that goes away. The rules behind the texts are checked in the
// core tests.

#include "ui/station_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <filesystem>

#include "link/pty.h"
#include "link/serial_port_qt.h"
#include "support/fakes.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"
#include "ui/about_window.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::WaitFor;

struct NoClockSetter final : ClockSetter {
  bool SetSystemTime(const ClockRecord&) override { return false; }
};

std::string Raw(std::initializer_list<std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

class StationWindowTest : public ::testing::Test {
 protected:
  static constexpr char kLog[] = "Lab_20062009_1000.kss";

  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    fs::create_symlink(pty_.slave_path(), dir_ / "com1");
    // As after an earlier start: a settings file without line 2 asks no real server.
    program_.station.settings.time_server_host = "127.0.0.1";
  }
  void TearDown() override {
    station_.reset();
    program_.status_windows.CloseAll();
    delete CurrentAboutWindow();
  }

  // Writes `settings` and starts the program.
  void Start(const char* settings = "01,9600,N,8,1\r\n127.0.0.1\r\nLab\r\n") {
    dir_.Write("zevrinkiss.ini", settings);
    station_ = std::make_unique<StationWindow>(program_, setter_, config_);
    station_->Start();
  }
  MainWindow& Window() const { return *station_->window(); }
  template <typename T>
  T* Child(const char* name) const {
    return Window().findChild<T*>(QString::fromLatin1(name));
  }
  QString Label(const char* name) const { return Child<QLabel>(name)->text(); }
  // Writes into the port and waits until the window has received every byte.
  void Send(testing::Pty& pty, const std::string& bytes) {
    const std::int32_t& count = program_.station.receive.ByteCount;
    const std::int32_t before = count;
    ASSERT_TRUE(pty.Write({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
    ASSERT_TRUE(WaitFor([&] { return count - before == std::ssize(bytes); }));
  }
  // Lets the tick run until the clock label shows the injected time.
  void TickAt(int second) {
    clock_.Set({FromCivil({2009, 6, 20, 10, 0, second}), 0});
    ASSERT_TRUE(
        WaitFor([&] { return Label("ClockLabel") == QString::asprintf("10:00:%02d", second); }));
  }

  testing::TempDir dir_{"station-window"};
  StationWindowConfig config_{{(dir_ / "zevrinkiss.ini").string(), dir_.string()}, dir_.string()};
  testing::FixedClock clock_{{FromCivil({2009, 6, 20, 10, 0, 0}), 0}};
  ProgramState program_{clock_};
  NoClockSetter setter_;
  testing::Pty pty_;
  std::unique_ptr<StationWindow> station_;
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

TEST_F(StationWindowTest, SetupRestartsOnTheNewPortAndOtherWindowsStayOpen) {
  testing::Pty com12;
  fs::create_symlink(com12.slave_path(), dir_ / "com12");
  Start();
  StatusWindowWidget* status = program_.status_windows.Open(StatusWindow::kGps);
  AboutWindow* about = OpenAboutWindow();
  Send(pty_, Raw({0xC0, 0x00, 0x01, 0xC0}));

  Child<QAction>("MnuSetup")->trigger();
  Child<QAction>("MnuSetup")->trigger();  // raises the open dialog
  ASSERT_EQ(Window().findChildren<SetupDialog*>().size(), 1);
  SetupDialog* dialog = station_->setup_dialog();
  const char* lists[] = {"PortList", "SpeedList", "DataList", "ParityList", "StopList"};
  const char* entries[] = {"COM12", "115200", "7", "E", "2"};
  for (int i = 0; i < 5; ++i) {
    auto* box = dialog->findChild<QComboBox*>(QString::fromLatin1(lists[i]));
    box->setCurrentIndex(box->findText(QString::fromLatin1(entries[i])));
  }
  QSignalSpy restarted(station_.get(), &StationWindow::Restarted);
  dialog->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
  ASSERT_TRUE(WaitFor([&] { return restarted.count() == 1; }));

  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), "12,115200,E,7,2\r\n127.0.0.1\r\nLab\r\n");
  EXPECT_EQ(Label("PortLabel"), "COM12 115200,E,7,2 initialized ");
  EXPECT_EQ(program_.status_windows.Window(StatusWindow::kGps), status);
  EXPECT_TRUE(status->isVisible());
  EXPECT_EQ(CurrentAboutWindow(), about);
  EXPECT_TRUE(about->isVisible());

  Send(com12, Raw({0xC0, 0x00, 0x02, 0xC0}));  // received on the new port
  station_->End();
  EXPECT_FALSE(status->isVisible());
  EXPECT_EQ(dir_.Contents(kLog), Raw({0xC0, 0x00, 0x01, 0xC0, 0xC0, 0x00, 0x02, 0xC0}));
}

// Starts on the port the settings file names: the TNC button and typed keys go out
// there one byte each. When that port hangs up it is closed at once, reported once,
// and nothing keeps polling it.
TEST_F(StationWindowTest, StartsOnThePortOfTheSettingsFileAndSurvivesItsHangUp) {
  testing::Pty com3;
  fs::create_symlink(com3.slave_path(), dir_ / "com3");
  Start("03,19200,n,8,1\r\n127.0.0.1\r\nLab\r\n");
  EXPECT_EQ(Label("PortLabel"), "COM3 19200,N,8,1 initialized ");
  TickAt(3);
  EXPECT_FALSE(Child<QLabel>("PortOpenPicture")->isHidden());
  Child<QPushButton>("Command4")->click();
  auto* terminal = Child<QLineEdit>("Text2");
  QTest::keyClicks(terminal, QStringLiteral("KIS"));
  QTest::keyClick(terminal, Qt::Key_Return);
  QTest::keyClick(terminal, Qt::Key_Escape);
  Bytes sent;
  WaitFor([&] {
    const Bytes more = com3.Read();
    sent.insert(sent.end(), more.begin(), more.end());
    return sent.size() >= 9;
  });
  EXPECT_THAT(sent, ElementsAre(0x1B, 0x40, 0x6B, 0x0D, 0x4B, 0x49, 0x53, 0x0D, 0x1B));

  QStringList messages;
  QObject::connect(Window().statusBar(), &QStatusBar::messageChanged,
                   [&](const QString& text) { messages.append(text); });
  com3.CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return !station_->port()->IsOpen(); }, 1000));
  QTest::qWait(50);
  EXPECT_LT(testing::CpuMicrosWhileWaiting(500), 50000);  // under 10 % of one core
  TickAt(5);
  EXPECT_FALSE(station_->port()->IsOpen());
  EXPECT_FALSE(Child<QLabel>("PortClosedPicture")->isHidden());
  EXPECT_EQ(messages.filter(QStringLiteral("COM3 lost")).size(), 1);
}

TEST_F(StationWindowTest, LogProblemIsShownOnceInABoxAndItsRecoveryToo) {
  config_.paths.log_directory = (dir_ / "logs").string();
  Start();
  for (int i = 0; i < 3; ++i) Send(pty_, Raw({0xC0, 0x00, 0x41, 0xC0}));
  const auto problems = Window().findChildren<QMessageBox*>(QStringLiteral("LogProblem"));
  ASSERT_EQ(problems.size(), 1);
  EXPECT_TRUE(problems[0]->isVisible());
  EXPECT_FALSE(problems[0]->isModal());
  EXPECT_EQ(program_.station.receive.FrameCount, 3);  // reception goes on

  fs::create_directories(dir_ / "logs");
  Send(pty_, Raw({0xC0, 0x00, 0x42, 0xC0}));
  EXPECT_EQ(Window().findChildren<QMessageBox*>(QStringLiteral("LogRecovered")).size(), 1);
  EXPECT_EQ(Window().findChildren<QMessageBox*>(QStringLiteral("LogProblem")).size(), 1);
}

}  // namespace
}  // namespace zevrin
