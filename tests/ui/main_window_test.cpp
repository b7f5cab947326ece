// The main window offscreen: first fed frames directly, with its status and About
// windows, then as the whole program on pseudo-terminals the tests open (start-up from
// the settings file, logs, restart through the setup dialog, the TNC button and
// terminal, a port that goes away). Entry texts, field values, threshold rules and the
// station's texts are checked in the core tests; here only that the windows show them.

#include "windows/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <filesystem>
#include <memory>

#include "adapters/qt_serial_port.h"
#include "base/colours.h"
#include "link/pty.h"
#include "sample/sample_pass.h"
#include "session/station_window.h"
#include "support/fakes.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"
#include "widgets/text_fit.h"
#include "windows/about_window.h"
#include "windows/status_window.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::WaitFor;

QColor ToQColor(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : program_(clock_), window_(std::make_unique<MainWindow>(program_)) {}
  ~MainWindowTest() override { program_.status_windows.CloseAll(); }

  void Feed(const Bytes& p) { window_->Receive(sample::KissFrame(sample::SatelliteFrame(p))); }
  template <typename T>
  T* Child(const QString& name) const {
    return window_->findChild<T*>(name);
  }
  QLineEdit* Field(int i) const { return Child<QLineEdit>(QStringLiteral("Text1_%1").arg(i)); }
  MonitorPane& Pane() const { return window_->monitor(); }

  testing::FixedClock clock_;
  DesktopProgram program_;
  std::unique_ptr<MainWindow> window_;
};

// New entries go to the end whatever the user clicked or selected, decoded or raw as
// the check box says, and the view follows them only while it is scrolled to the bottom.
TEST_F(MainWindowTest, NewEntriesGoToTheEndAndTheViewFollowsOnlyAtTheBottom) {
  window_->show();
  const Bytes payload = sample::SatellitePayload(4711, 'S', 1, 0x0100, 25);
  Feed(payload);
  const QString first_entry = Pane().toPlainText();
  EXPECT_TRUE(first_entry.contains("ctrl: 3"));
  QTest::mouseClick(Pane().viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  QTextCursor selection(Pane().document());
  selection.setPosition(2);
  selection.setPosition(12, QTextCursor::KeepAnchor);
  Pane().setTextCursor(selection);
  Child<QCheckBox>("AnalyzeFrame")->click();  // raw entries from now on
  Feed(payload);
  ASSERT_TRUE(Pane().toPlainText().startsWith(first_entry));
  const QString raw_entry = Pane().toPlainText().mid(first_entry.size());
  EXPECT_FALSE(raw_entry.contains("ctrl: 3"));
  EXPECT_TRUE(raw_entry.contains(" 1   > C0 00 "));  // the whole KISS frame
  EXPECT_EQ(Pane().textCursor().selectedText(), first_entry.mid(2, 10));
  // Each line in the colour of its role, in both views.
  const auto colour = [&](int line) {
    const QTextBlock block = Pane().document()->findBlockByNumber(line);
    return block.begin().fragment().charFormat().foreground().color();
  };
  const std::pair<int, Rgb> colours[] = {{1, kMonitorGrey}, {2, kMonitorGrey}, {3, kMonitorBlack},
                                         {5, kMonitorBlue}, {7, kMonitorGrey}, {8, kMonitorBlue}};
  for (const auto& [line, rgb] : colours) EXPECT_EQ(colour(line), ToQColor(rgb)) << line;

  QScrollBar* bar = Pane().verticalScrollBar();
  for (int i = 0; i < 500; ++i) Pane().AppendMonitorText("line\r", ColourRole::kDump);
  ASSERT_GT(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), bar->maximum());
  bar->setValue(100);
  for (int i = 0; i < 50; ++i) Pane().AppendMonitorText("more\r", ColourRole::kDump);
  EXPECT_EQ(bar->value(), 100);
  bar->setValue(bar->maximum());
  Pane().AppendMonitorText("last\r", ColourRole::kDump);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(MainWindowTest, MonitorKeepsTheNewestLinesAndClearEmptiesItAndTheCounters) {
  const int total = kMonitorLineLimit + 250;
  for (int i = 0; i < total; ++i) {
    Pane().AppendMonitorText(QStringLiteral("line %1\r").arg(i).toStdString(), ColourRole::kDump);
  }
  EXPECT_EQ(Pane().LineCount(), kMonitorLineLimit);
  EXPECT_TRUE(Pane().toPlainText().startsWith("line 250\n"));
  EXPECT_TRUE(Pane().toPlainText().endsWith(QStringLiteral("\nline %1").arg(total - 1)));

  Feed(sample::SatellitePayload(1, 'S', 1, 0, 10));
  auto* counter = Child<QLabel>("ReceiveCounterLabel");
  ASSERT_FALSE(counter->text().isEmpty());
  Child<QAction>("MnuClear")->trigger();
  EXPECT_EQ(Pane().LineCount(), 0);
  EXPECT_EQ(counter->text(), "");
  EXPECT_EQ(program_.station.receive.byte_count, 0);

  // Texts join up to a carriage return.
  Pane().AppendMonitorText("from ", ColourRole::kSummary);
  Pane().AppendMonitorText("here\r\r", ColourRole::kDump);
  Pane().AppendMonitorText("next\r", ColourRole::kDump);
  EXPECT_EQ(Pane().toPlainText(), "from here\n\nnext");
}

// After a pass every visible field shows what the store holds; hidden fields have no
// widget. A power record then colours the threshold fields.
TEST_F(MainWindowTest, VisibleFieldsMirrorTheStoreAndShowThresholdColours) {
  window_->Receive(sample::MakePass({.frames = 120}));
  int shown = 0;
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    QLineEdit* field = Field(index);
    const bool hidden =
        DisplayFieldTable()[static_cast<std::size_t>(index)].group == FieldGroup::kHidden;
    ASSERT_EQ(field == nullptr, hidden) << index;
    if (hidden) continue;
    EXPECT_EQ(field->text().toStdString(), program_.fields.Field(index)) << index;
    EXPECT_TRUE(field->isReadOnly());
    shown += field->text().isEmpty() ? 0 : 1;
  }
  EXPECT_GT(shown, 50);
  for (std::size_t b = 0; b < kBoxCount; ++b) {
    auto* box = Child<QLineEdit>(QString::fromLatin1(BoxTable()[b].element));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text().toStdString(), program_.fields.BoxText(static_cast<Box>(b)));
  }

  // Both heater thresholds and powersafe at their reference, emergency off it.
  Bytes p = sample::SatellitePayload(4711, 'S', 1, 0x0100, 100);
  p[6] = 0x29;
  p[70] = 0x14;
  p[42] = 200;  // heater on: -56
  p[43] = 200;  // heater off: -56
  p[44] = 178;  // powersafe: 3.49
  p[45] = 171;  // emergency: not 3.33
  Feed(p);
  EXPECT_EQ(Field(41)->palette().color(QPalette::Base), ToQColor(kThresholdGreen));
  EXPECT_EQ(Field(44)->palette().color(QPalette::Base), ToQColor(kThresholdRed));
}

// Every text a field, box or gauge can show is whole with this machine's fonts, and a
// wide gauge level does not move the columns. The records carry the same byte
// everywhere, through all 256 values: every word and the widest numbers.
TEST_F(MainWindowTest, EveryFieldShowsItsWidestTextsWhole) {
  window_->show();
  const auto cut_off = [&] {
    std::vector<std::string> cut;
    for (QLineEdit* edit : window_->findChildren<QLineEdit*>()) {
      if (edit->isVisible() && !LineEditShowsWhole(*edit, edit->text(), edit->width())) {
        cut.push_back((edit->objectName() + ": " + edit->text()).toStdString());
      }
    }
    return cut;
  };
  for (int b = 0; b < 256; ++b) {
    for (const auto& [layout, kind] : {std::pair{0x29, 0x14}, {0x17, 0x40}}) {
      Bytes p = sample::SatellitePayload(65535, 'S', 255, 65535, 110);
      std::fill(p.begin() + 7, p.end(), static_cast<std::uint8_t>(b));
      p[6] = static_cast<std::uint8_t>(layout);
      p[70] = static_cast<std::uint8_t>(kind);
      Feed(p);
    }
    QApplication::processEvents();
    ASSERT_THAT(cut_off(), IsEmpty()) << b;
  }
  EXPECT_EQ(program_.fields.Field(3), "???");  // the power levels came and went
  auto* xhk_field = Field(82);
  auto* temperature = Field(80);  // in the column right of the gauges
  const QRect field_before = temperature->geometry();
  for (const char* level : {"0%", "100%", "-32768%", "32767%"}) {
    program_.fields.WriteGauge(Gauge::kXhk, level);
    QApplication::processEvents();
    auto* gauge = Child<QLabel>("Label9");
    EXPECT_LE(gauge->sizeHint().width(), gauge->width()) << level;
    EXPECT_EQ(temperature->geometry(), field_before) << level;
    EXPECT_EQ(xhk_field->geometry().right() < gauge->geometry().left(), true);
  }
}

// Every label shows its text as plain text, so text from a settings file or a frame
// is never read as markup. Each status window, and the About window, is wide and high
// enough for every text it can show, whatever the bits and the attitude-control mode.
TEST_F(MainWindowTest, EveryLabelIsPlainTextAndEveryStatusAndAboutTextWhole) {
  AboutWindow* about = OpenAboutWindow();
  std::vector<QWidget*> windows = {window_.get(), about};
  for (int k = 0; k < kStatusWindowCount; ++k) {
    const auto kind = static_cast<StatusWindow>(k);
    StatusWindowWidget* window = program_.status_windows.Open(kind);
    windows.push_back(window);
    const StatusWindowInfo& info = StatusWindowData(kind);
    EXPECT_GE(window->width(), info.client_width);
    EXPECT_GE(window->height(), info.client_height);
    for (const char* bits : {"00000000", "11111111", "10100101"}) {
      for (const char* mode : {"GPS ORB", "SENSE"}) {
        program_.fields.WriteField(info.field, bits);
        program_.fields.WriteField(kAdcsModeField, mode);
        window->Tick();
        for (QLabel* label : window->findChildren<QLabel*>()) {
          const QRect inside = label->geometry();
          EXPECT_LE(label->sizeHint().width(), inside.width())
              << info.field << " " << label->text().toStdString();
          EXPECT_LE(label->sizeHint().height(), inside.height() + 1) << info.field;
          EXPECT_TRUE(window->rect().contains(inside)) << info.field;
        }
      }
    }
  }
  for (QLabel* label : about->findChildren<QLabel*>()) {
    EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
    EXPECT_TRUE(about->rect().contains(
        label->geometry().translated(label->parentWidget()->mapTo(about, QPoint(0, 0)))))
        << label->objectName().toStdString();
  }
  for (QWidget* window : windows) {
    const auto labels = window->findChildren<QLabel*>();
    ASSERT_FALSE(labels.isEmpty());
    for (QLabel* label : labels) {
      EXPECT_EQ(label->textFormat(), Qt::PlainText)
          << window->objectName().toStdString() << "/" << label->objectName().toStdString();
    }
  }
  window_->SetPortLabel(QStringLiteral("COM1 <H1>BIG</H1><IMG SRC=\"X\">,N,8,1 initialized "));
  window_->SetStatusText("<b>x</b>");
  EXPECT_TRUE(Child<QLabel>("PortLabel")->text().startsWith("COM1 <H1>BIG</H1>"));
  EXPECT_EQ(window_->StatusText(), "<b>x</b>");
  delete about;
}

// Each status picture and the About entry open their window once, however often
// clicked; a closed About window is forgotten.
TEST_F(MainWindowTest, PicturesAndTheAboutEntryOpenTheirWindowOnce) {
  // The pictures of fields 69 to 74.
  const StatusWindow kinds[] = {StatusWindow::kSystem,          StatusWindow::kResource,
                                StatusWindow::kMagnetometer,    StatusWindow::kSunSensorStatus,
                                StatusWindow::kSunSensorConfig, StatusWindow::kGps};
  Child<QAction>("MnuAbout")->trigger();
  Child<QAction>("MnuAbout")->trigger();
  for (int field = 69; field <= 74; ++field) {
    auto* picture = Child<QToolButton>(QStringLiteral("StatusPicture_%1").arg(field));
    picture->click();
    picture->click();
    ASSERT_NE(program_.status_windows.Window(kinds[field - 69]), nullptr) << field;
  }
  int status_open = 0;
  int about_open = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    status_open += qobject_cast<StatusWindowWidget*>(widget) != nullptr && !widget->isHidden();
    about_open += qobject_cast<AboutWindow*>(widget) != nullptr && !widget->isHidden();
  }
  EXPECT_EQ(status_open, 6);
  EXPECT_EQ(about_open, 1);
  CurrentAboutWindow()->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(CurrentAboutWindow(), nullptr);
}

// The terminal line reports each key that brings a character before taking it as any
// line does; keys without one (the arrows) move the cursor and are not reported.
TEST_F(MainWindowTest, TerminalLineReportsTypedKeysAndStillTakesThem) {
  auto* terminal = Child<QLineEdit>("Text2");
  QSignalSpy keys(window_.get(), &MainWindow::TerminalKeyPressed);
  QTest::keyClicks(terminal, QStringLiteral("ab"));
  QTest::keyClick(terminal, Qt::Key_Left);
  QTest::keyClicks(terminal, QStringLiteral("X"));
  ASSERT_EQ(keys.size(), 3);
  EXPECT_EQ(keys[0][0].toInt(), 'a');
  EXPECT_EQ(keys[1][0].toInt(), 'b');
  EXPECT_EQ(keys[2][0].toInt(), 'X');
  EXPECT_EQ(terminal->text(), QStringLiteral("aXb"));
}

// Status lines follow a housekeeping frame at the next tick, keep their texts across
// a restart of the main window, and start from their resting captions when reopened.
// The window's own timer ticks every second.
TEST_F(MainWindowTest, StatusLinesFollowTheFieldAtEachTick) {
  StatusWindowWidget* window = program_.status_windows.Open(StatusWindow::kSystem);
  Bytes p = sample::SatellitePayload(4711, 'S', 2, 0x0100, 110);
  p[6] = 0x17;  // a system record
  p[70] = 0x40;
  p[73] = 0x81;  // its system status byte (field 69)
  Feed(p);
  EXPECT_EQ(window->TextBuilder(0), "bit 7");  // nothing before the tick
  window->Tick();
  EXPECT_EQ(window->DigitText(), "10000001");
  EXPECT_EQ(window->TextBuilder(0), "bit 7 [1]: ADCS has plausible TIME information");

  window_ = std::make_unique<MainWindow>(program_);  // fields start empty again
  ASSERT_EQ(program_.status_windows.Window(StatusWindow::kSystem), window);
  window->Tick();
  EXPECT_EQ(window->DigitText(), "");
  EXPECT_EQ(window->TextBuilder(0), "bit 7 [1]: ADCS has plausible TIME information");

  window->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(program_.status_windows.Window(StatusWindow::kSystem), nullptr);
  QElapsedTimer waited;
  waited.start();
  StatusWindowWidget* again = program_.status_windows.Open(StatusWindow::kSystem);
  EXPECT_EQ(again->DigitText(), "");
  EXPECT_EQ(again->TextBuilder(0), "bit 7");
  program_.fields.WriteField(69, "11111111");
  EXPECT_TRUE(WaitFor([&] { return !again->DigitText().isEmpty(); }, 3000));
  EXPECT_GE(waited.elapsed(), 900);
  EXPECT_EQ(again->DigitText(), "11111111");
}

std::string Raw(std::initializer_list<std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

const QString kInvalidReply = QStringLiteral("Time passed not valid. Clock not synchronised");

// The whole program around the main window, its port "COM1" a pseudo-terminal.
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
    const std::int32_t& count = program_.station.receive.byte_count;
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

  // Opens each menu from the menu bar, hovers each entry, closes the menu; the
  // status message stays and nothing covers it meanwhile.
  void BrowseMenus() {
    QMenuBar* bar = Window().menuBar();
    for (QAction* title : bar->actions()) {
      QMenu* menu = title->menu();
      QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(title).center());
      ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }, 2000));
      for (QAction* action : menu->actions()) {
        QTest::mouseMove(menu, menu->actionGeometry(action).center());
        QTest::qWait(20);
        // Nothing covers the message while an entry is hovered either.
        EXPECT_EQ(Window().statusBar()->currentMessage(), "") << action->text().toStdString();
        EXPECT_TRUE(Window().findChild<QLabel*>("StatusText")->isVisible());
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
  ASSERT_EQ(program_.status_windows.Window(StatusWindow::kGps), status);
  ASSERT_EQ(CurrentAboutWindow(), about);
  EXPECT_TRUE(status->isVisible() && about->isVisible());

  Send(com12, Raw({0xC0, 0x00, 0x02, 0xC0}));  // received on the new port
  EXPECT_EQ(dir_.Contents(kLog), Raw({0xC0, 0x00, 0x01, 0xC0, 0xC0, 0x00, 0x02, 0xC0}));
  ASSERT_TRUE(WaitFor([&] { return Window().StatusText() == kInvalidReply; }));
  BrowseMenus();
}

// Starts on the port the settings file names: the TNC button and typed keys go out
// there one byte each. When that port hangs up it is closed at once, reported once,
// and nothing keeps polling it.
TEST_F(StationWindowTest, StartsOnThePortOfTheSettingsFileAndSurvivesItsHangUp) {
  testing::Pty com3;
  fs::create_symlink(com3.slave_path(), dir_ / "com3");
  Start("03,19200,n,8,1\r\n127.0.0.1\r\nLab\r\n");
  TickAt(3);
  EXPECT_FALSE(Child<QLabel>("PortOpenPicture")->isHidden());
  Child<QPushButton>("Command4")->click();
  auto* terminal = Child<QLineEdit>("Text2");
  QTest::keyClicks(terminal, QStringLiteral("KIS"));
  QTest::keyClick(terminal, Qt::Key_Return);
  QTest::keyClick(terminal, Qt::Key_Escape);
  Bytes sent;
  WaitFor([&] { return com3.ReadInto(sent) >= 9; });
  EXPECT_THAT(sent, ElementsAre(0x1B, 0x40, 0x6B, 0x0D, 0x4B, 0x49, 0x53, 0x0D, 0x1B));

  com3.CloseMaster();
  ASSERT_TRUE(WaitFor([&] { return !station_->port()->IsOpen(); }, 1000));
  QTest::qWait(50);
  EXPECT_LT(testing::CpuMicrosWhileWaiting(500), 50000);  // under 10 % of one core
  TickAt(5);
  EXPECT_FALSE(station_->port()->IsOpen());
  EXPECT_FALSE(Child<QLabel>("PortClosedPicture")->isHidden());
  EXPECT_EQ(Window().StatusText(), "COM3 lost (the other end went away): port closed");
}

// A log that cannot be written has one notice, updated in place: first the frames it
// misses, then, once it takes frames again, since when it is written again.
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
  // The texts themselves are the log's own (checked in the core tests).
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

}  // namespace
}  // namespace zevrin
