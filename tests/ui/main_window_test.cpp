// The main window driven through its receive path, offscreen.

#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <memory>

#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "ui/colours.h"

namespace zevrin {
namespace {

using sample::Bytes;

QColor ToQColor(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

// A frame from the satellite to the ground station carrying `payload`.
Bytes SatelliteKiss(const Bytes& payload) {
  return sample::KissFrame(sample::SatelliteFrame(payload));
}

// A power record with both heater thresholds at their reference and the
// emergency threshold off its reference.
Bytes PowerRecordFrame() {
  Bytes p = sample::SatellitePayload(4711, 'S', 1, 0x0100, 100);
  p[6] = 0x29;
  p[70] = 0x14;
  p[42] = 200;  // heater on: -56
  p[43] = 200;  // heater off: -56
  p[44] = 178;  // powersafe: 3.49
  p[45] = 171;  // emergency: not 3.33
  return SatelliteKiss(p);
}

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : program_(clock_), window_(std::make_unique<MainWindow>(program_)) {}

  void Feed(const Bytes& bytes) { window_->Receive(bytes); }

  template <typename T>
  T* Child(const char* name) const {
    T* child = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

  QLineEdit* Field(int index) const {
    return window_->findChild<QLineEdit*>(QStringLiteral("Text1_%1").arg(index));
  }

  QString Line(int n) const { return window_->monitor().document()->findBlockByNumber(n).text(); }

  // The colour of the first character of line n.
  QColor LineColour(int n) const {
    const QTextBlock block = window_->monitor().document()->findBlockByNumber(n);
    return block.begin().fragment().charFormat().foreground().color();
  }

  testing::FixedClock clock_;
  ProgramState program_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, DecodedViewShowsEachLineOfTheEntryInItsColour) {
  const Bytes frame = SatelliteKiss(sample::SatellitePayload(4711, 'S', 1, 0x0100, 25));
  Feed(frame);

  auto& pane = window_->monitor();
  ASSERT_EQ(pane.LineCount(), 6);  // separator, summary, control, address, two dump lines
  EXPECT_EQ(Line(0), "");
  EXPECT_EQ(Line(1),
            QStringLiteral("2009-06-20 14:05:09.437 UTC: [%1 Bytes KISS Frame (without CRC)]")
                .arg(frame.size()));
  EXPECT_EQ(Line(2), "ctrl: 3   PID: F0 {UI}   25 Payload Bytes");
  EXPECT_EQ(Line(3), "from QQ0SAT to QQ0GND: ");
  EXPECT_TRUE(Line(4).startsWith(" 1   > 12 67 53 01 01 00 "));
  EXPECT_TRUE(Line(5).startsWith(" 21  > "));

  EXPECT_EQ(LineColour(1), QColor(128, 128, 128));
  EXPECT_EQ(LineColour(2), QColor(128, 128, 128));
  EXPECT_EQ(LineColour(3), QColor(0, 0, 0));
  EXPECT_EQ(LineColour(4), QColor(0, 0, 255));
  EXPECT_EQ(LineColour(5), QColor(0, 0, 255));
}

TEST_F(MainWindowTest, CheckBoxSwitchesToTheRawViewAndBack) {
  auto* analyze = Child<QCheckBox>("AnalyzeFrame");
  ASSERT_NE(analyze, nullptr);
  EXPECT_TRUE(analyze->isChecked());
  EXPECT_EQ(analyze->text(), "Decode KISS Frame");

  analyze->click();
  EXPECT_FALSE(window_->pipeline().analysis().options().analyze_frame);
  Feed({0xC0, 0x00, 0xC0});
  ASSERT_EQ(window_->monitor().LineCount(), 3);
  EXPECT_TRUE(Line(1).endsWith("[3 Bytes KISS Frame (without CRC)]"));
  EXPECT_EQ(Line(2), " 1   > C0 00 C0 ");
  EXPECT_EQ(LineColour(2), ToQColor(kMonitorBlue));

  analyze->click();
  EXPECT_TRUE(window_->pipeline().analysis().options().analyze_frame);
  Feed(SatelliteKiss(sample::SatellitePayload(1, 'S', 1, 0, 10)));
  EXPECT_TRUE(Line(5).startsWith("ctrl: 3"));
}

TEST_F(MainWindowTest, ClearEmptiesMonitorCountersAndCounterLabel) {
  auto* counter = Child<QLabel>("ReceiveCounterLabel");
  ASSERT_NE(counter, nullptr);
  EXPECT_EQ(counter->text(), "");
  const Bytes frame = SatelliteKiss(sample::SatellitePayload(1, 'S', 1, 0, 10));
  Feed(frame);
  EXPECT_EQ(counter->text(), QStringLiteral("%1 Bytes received (1 Frames)").arg(frame.size()));
  ASSERT_GT(window_->monitor().LineCount(), 0);

  QSignalSpy cleared(window_.get(), &MainWindow::Cleared);
  auto* clear = Child<QAction>("MnuClear");
  ASSERT_NE(clear, nullptr);
  EXPECT_EQ(clear->text(), "&Clear");
  clear->trigger();
  EXPECT_EQ(cleared.count(), 1);
  EXPECT_EQ(window_->monitor().LineCount(), 0);
  EXPECT_EQ(window_->monitor().toPlainText(), "");
  EXPECT_EQ(counter->text(), "");
  EXPECT_EQ(program_.station.receive.ByteCount, 0);
  EXPECT_EQ(program_.station.receive.FrameCount, 0);
}

TEST_F(MainWindowTest, HexdumpEntryTogglesItsMarkAndTheOption) {
  auto* hexdump = Child<QAction>("Mnu_ASCII_Hexdump");
  ASSERT_NE(hexdump, nullptr);
  EXPECT_EQ(hexdump->text(), "Write Payload to ASCII File (Hexdump)");
  EXPECT_TRUE(hexdump->isCheckable());
  EXPECT_FALSE(window_->HexdumpChecked());
  QSignalSpy toggled(window_.get(), &MainWindow::HexdumpToggled);

  hexdump->trigger();
  EXPECT_TRUE(window_->HexdumpChecked());
  EXPECT_TRUE(window_->pipeline().analysis().options().hexdump);
  hexdump->trigger();
  EXPECT_FALSE(window_->HexdumpChecked());
  EXPECT_FALSE(window_->pipeline().analysis().options().hexdump);
  ASSERT_EQ(toggled.count(), 2);
  EXPECT_TRUE(toggled.at(0).at(0).toBool());
  EXPECT_FALSE(toggled.at(1).at(0).toBool());
}

TEST_F(MainWindowTest, ThresholdFieldsTakeTheirColourFromEachPowerRecord) {
  const QColor normal = QPalette().color(QPalette::Base);
  for (int index = 41; index <= 44; ++index) {
    ASSERT_NE(Field(index), nullptr) << index;
    EXPECT_EQ(Field(index)->palette().color(QPalette::Base), normal) << index;
  }
  Feed(PowerRecordFrame());
  EXPECT_EQ(Field(41)->text(), "-56");
  EXPECT_EQ(Field(41)->palette().color(QPalette::Base), ToQColor(kThresholdGreen));
  EXPECT_EQ(Field(42)->palette().color(QPalette::Base), ToQColor(kThresholdGreen));
  EXPECT_EQ(Field(43)->palette().color(QPalette::Base), ToQColor(kThresholdGreen));
  EXPECT_EQ(Field(44)->palette().color(QPalette::Base), ToQColor(kThresholdRed));

  // A new window starts with normal backgrounds again.
  window_ = std::make_unique<MainWindow>(program_);
  for (int index = 41; index <= 44; ++index) {
    EXPECT_EQ(Field(index)->palette().color(QPalette::Base), normal) << index;
    EXPECT_EQ(Field(index)->text(), "") << index;
  }
}

TEST_F(MainWindowTest, VisibleFieldsMirrorTheStoreAndHiddenOnesHaveNoWidget) {
  Feed(sample::MakePass({.frames = 120}));
  int shown = 0;
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    const bool hidden =
        DisplayFieldTable()[static_cast<std::size_t>(index)].group == FieldGroup::kHidden;
    QLineEdit* field = Field(index);
    if (hidden) {
      EXPECT_EQ(field, nullptr) << index;
      continue;
    }
    ASSERT_NE(field, nullptr) << index;
    EXPECT_EQ(field->text().toStdString(), program_.fields.Field(index)) << index;
    EXPECT_TRUE(field->isReadOnly());
    if (!field->text().isEmpty()) ++shown;
  }
  EXPECT_GT(shown, 50);
  // The hidden fields are written all the same and stay in the store.
  EXPECT_FALSE(program_.fields.Field(54).empty());
  for (std::size_t b = 0; b < kBoxCount; ++b) {
    auto* box = window_->findChild<QLineEdit*>(QString::fromLatin1(BoxTable()[b].element));
    ASSERT_NE(box, nullptr) << b;
    EXPECT_EQ(box->text().toStdString(), program_.fields.BoxText(static_cast<Box>(b)));
  }
  for (std::size_t g = 0; g < kGaugeCount; ++g) {
    auto* gauge = window_->findChild<QLabel*>(QString::fromLatin1(GaugeTable()[g].element));
    ASSERT_NE(gauge, nullptr) << g;
    EXPECT_TRUE(gauge->text().endsWith('%'));
  }
}

TEST_F(MainWindowTest, ClockLabelWaitsForTheFirstTick) {
  EXPECT_EQ(Child<QLabel>("ClockLabel")->text(), "sync...");
  EXPECT_EQ(Child<QPushButton>("Command4")->text(), "TNC2 @K");
}

TEST_F(MainWindowTest, SerialConditionsGoToTheStatusBarAndReceptionEmptiesIt) {
  testing::FakePort port;
  window_->pipeline().path().OnComm(1004, port);
  EXPECT_EQ(window_->StatusText(), "Framing Error");
  Feed({0x41});
  EXPECT_EQ(window_->StatusText(), "");
}

// A click or a selection in the pane never moves where new entries go.
TEST_F(MainWindowTest, NewEntriesGoToTheEndWhateverTheUserClicked) {
  window_->show();
  MonitorPane& pane = window_->monitor();
  Feed(SatelliteKiss(sample::SatellitePayload(1, 'S', 1, 0, 10)));
  const QString first_entry = pane.toPlainText();

  QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  QTextCursor selection(pane.document());
  selection.setPosition(2);
  selection.setPosition(12, QTextCursor::KeepAnchor);
  pane.setTextCursor(selection);

  window_->pipeline().analysis().options().analyze_frame = false;
  Feed({0xC0, 0x00, 0xC0});
  const QString all = pane.toPlainText();
  EXPECT_TRUE(all.startsWith(first_entry));
  EXPECT_TRUE(all.endsWith(" 1   > C0 00 C0 "));
  EXPECT_EQ(pane.textCursor().selectionStart(), 2);
  EXPECT_EQ(pane.textCursor().selectionEnd(), 12);
}

TEST_F(MainWindowTest, ViewFollowsNewEntriesOnlyWhileAtTheBottom) {
  window_->show();
  MonitorPane& pane = window_->monitor();
  for (int i = 0; i < 500; ++i) pane.AppendMonitorText("line\r", ColourRole::kDump);
  QScrollBar* bar = pane.verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());

  bar->setValue(100);
  for (int i = 0; i < 50; ++i) pane.AppendMonitorText("more\r", ColourRole::kDump);
  EXPECT_EQ(bar->value(), 100);
  EXPECT_GT(bar->maximum(), 100);

  bar->setValue(bar->maximum());
  pane.AppendMonitorText("last\r", ColourRole::kDump);
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(MainWindowTest, MonitorKeepsTheNewestLinesOnly) {
  MonitorPane& pane = window_->monitor();
  const int total = kMonitorLineLimit + 250;
  for (int i = 0; i < total; ++i) {
    pane.AppendMonitorText(QStringLiteral("line %1\r").arg(i).toStdString(), ColourRole::kDump);
  }
  EXPECT_EQ(pane.LineCount(), kMonitorLineLimit);
  EXPECT_EQ(Line(0), "line 250");
  EXPECT_EQ(Line(kMonitorLineLimit - 1), QStringLiteral("line %1").arg(total - 1));
  EXPECT_EQ(LineColour(0), ToQColor(kMonitorBlue));

  window_->ClearMonitor();
  EXPECT_EQ(pane.LineCount(), 0);
  pane.AppendMonitorText("again\r", ColourRole::kSummary);
  EXPECT_EQ(Line(0), "again");
  EXPECT_EQ(LineColour(0), ToQColor(kMonitorGrey));
}

TEST_F(MainWindowTest, TextsWithoutCarriageReturnContinueTheLine) {
  MonitorPane& pane = window_->monitor();
  pane.AppendMonitorText("from ", ColourRole::kSummary);
  pane.AppendMonitorText("here\r\r", ColourRole::kAddress);
  pane.AppendMonitorText("next\r", ColourRole::kDump);
  EXPECT_EQ(pane.toPlainText(), "from here\n\nnext");
  EXPECT_EQ(LineColour(0), ToQColor(kMonitorGrey));
  EXPECT_EQ(LineColour(2), ToQColor(kMonitorBlue));
}

}  // namespace
}  // namespace zevrin
