// The main window driven through its receive path, with its status and About
// windows, offscreen. Entry texts, field values and threshold rules are checked in
// the core tests; here only that the windows show them.

#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <memory>

#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "ui/about_window.h"
#include "ui/colours.h"
#include "ui/status_window.h"

namespace zevrin {
namespace {

using sample::Bytes;

QColor ToQColor(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : program_(clock_), window_(std::make_unique<MainWindow>(program_)) {}
  ~MainWindowTest() override { program_.status_windows.CloseAll(); }

  void FeedPayload(const Bytes& p) {
    window_->Receive(sample::KissFrame(sample::SatelliteFrame(p)));
  }
  template <typename T>
  T* Child(const QString& name) const {
    return window_->findChild<T*>(name);
  }
  QLineEdit* Field(int i) const { return Child<QLineEdit>(QStringLiteral("Text1_%1").arg(i)); }
  MonitorPane& Pane() const { return window_->monitor(); }

  testing::FixedClock clock_;
  ProgramState program_;
  std::unique_ptr<MainWindow> window_;
};

// New entries go to the end whatever the user clicked or selected, decoded or raw as
// the check box says, and the view follows them only while it is scrolled to the bottom.
TEST_F(MainWindowTest, NewEntriesGoToTheEndAndTheViewFollowsOnlyAtTheBottom) {
  window_->show();
  const Bytes payload = sample::SatellitePayload(4711, 'S', 1, 0x0100, 25);
  FeedPayload(payload);
  const QString first_entry = Pane().toPlainText();
  EXPECT_TRUE(first_entry.contains("ctrl: 3"));
  QTest::mouseClick(Pane().viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  QTextCursor selection(Pane().document());
  selection.setPosition(2);
  selection.setPosition(12, QTextCursor::KeepAnchor);
  Pane().setTextCursor(selection);
  Child<QCheckBox>("AnalyzeFrame")->click();  // raw entries from now on
  FeedPayload(payload);
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

  auto* hexdump = Child<QAction>("Mnu_ASCII_Hexdump");
  for (const bool on : {true, false}) {
    hexdump->trigger();
    EXPECT_EQ(window_->HexdumpChecked(), on);
    EXPECT_EQ(window_->pipeline().analysis().options().hexdump, on);
  }
  FeedPayload(sample::SatellitePayload(1, 'S', 1, 0, 10));
  auto* counter = Child<QLabel>("ReceiveCounterLabel");
  ASSERT_FALSE(counter->text().isEmpty());
  Child<QAction>("MnuClear")->trigger();
  EXPECT_EQ(Pane().LineCount(), 0);
  EXPECT_EQ(counter->text(), "");
  EXPECT_EQ(program_.station.receive.ByteCount, 0);

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
  FeedPayload(p);
  EXPECT_EQ(Field(41)->palette().color(QPalette::Base), ToQColor(kThresholdGreen));
  EXPECT_EQ(Field(44)->palette().color(QPalette::Base), ToQColor(kThresholdRed));
  // A new window starts with normal fields again.
  window_ = std::make_unique<MainWindow>(program_);
  EXPECT_EQ(Field(44)->palette().color(QPalette::Base), QPalette().color(QPalette::Base));
}

// Each status picture and the About entry open their window once, however often
// clicked; the About window opens again after it was closed.
TEST_F(MainWindowTest, PicturesAndTheAboutEntryOpenTheirWindowOnce) {
  // The pictures of fields 69 to 74.
  const StatusWindow kinds[] = {StatusWindow::kSystem,          StatusWindow::kResource,
                                StatusWindow::kMagnetometer,    StatusWindow::kSunSensorStatus,
                                StatusWindow::kSunSensorConfig, StatusWindow::kGps};
  auto* about = Child<QAction>("MnuAbout");
  about->trigger();
  about->trigger();
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
  EXPECT_EQ(CurrentAboutWindow()->findChild<QLabel*>(QStringLiteral("VersionLine"))->text(),
            "Version 1.7.4    (June 20, 2009)");
  CurrentAboutWindow()->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(CurrentAboutWindow(), nullptr);
  about->trigger();
  ASSERT_NE(CurrentAboutWindow(), nullptr);
  delete CurrentAboutWindow();
}

// Status lines follow a housekeeping frame at the next tick, keep their texts across
// a restart of the main window, and start from their resting captions when reopened.
TEST_F(MainWindowTest, StatusLinesFollowTheFieldAtEachTick) {
  StatusWindowWidget* window = program_.status_windows.Open(StatusWindow::kSystem);
  Bytes p = sample::SatellitePayload(4711, 'S', 2, 0x0100, 110);
  p[6] = 0x17;  // a system record
  p[70] = 0x40;
  p[73] = 0x81;  // its system status byte (field 69)
  FeedPayload(p);
  EXPECT_EQ(window->LineText(0), "bit 7");  // nothing before the tick
  window->Tick();
  EXPECT_EQ(window->DigitText(), "10000001");
  EXPECT_EQ(window->LineText(0), "bit 7 [1]: ADCS has plausible TIME information");

  window_ = std::make_unique<MainWindow>(program_);  // fields start empty again
  ASSERT_EQ(program_.status_windows.Window(StatusWindow::kSystem), window);
  window->Tick();
  EXPECT_EQ(window->DigitText(), "");
  EXPECT_EQ(window->LineText(0), "bit 7 [1]: ADCS has plausible TIME information");

  window->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(program_.status_windows.Window(StatusWindow::kSystem), nullptr);
  StatusWindowWidget* again = program_.status_windows.Open(StatusWindow::kSystem);
  EXPECT_EQ(again->DigitText(), "");
  EXPECT_EQ(again->LineText(0), "bit 7");
}

TEST_F(MainWindowTest, StatusWindowTicksEverySecondOnItsOwn) {
  StatusWindowWidget* window = program_.status_windows.Open(StatusWindow::kSunSensorConfig);
  program_.fields.WriteField(73, "11111111");
  QElapsedTimer waited;
  waited.start();
  while (window->DigitText().isEmpty() && waited.elapsed() < 3000) QTest::qWait(50);
  EXPECT_GE(waited.elapsed(), 900);
  EXPECT_EQ(window->DigitText(), "11111111");
}

}  // namespace
}  // namespace zevrin
