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

Bytes SatelliteKiss(const Bytes& payload) {
  return sample::KissFrame(sample::SatelliteFrame(payload));
}

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : program_(clock_), window_(std::make_unique<MainWindow>(program_)) {}

  void Feed(const Bytes& bytes) { window_->Receive(bytes); }
  template <typename T>
  T* Child(const QString& name) const {
    T* child = window_->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name.toStdString();
    return child;
  }
  QLineEdit* Field(int index) const {
    return window_->findChild<QLineEdit*>(QStringLiteral("Text1_%1").arg(index));
  }
  MonitorPane& Pane() const { return window_->monitor(); }
  QString Line(int n) const { return Pane().document()->findBlockByNumber(n).text(); }
  // The colour of the first character of line n.
  QColor LineColour(int n) const {
    const QTextBlock block = Pane().document()->findBlockByNumber(n);
    return block.begin().fragment().charFormat().foreground().color();
  }
  MonitorOptions& Options() const { return window_->pipeline().analysis().options(); }

  testing::FixedClock clock_;
  ProgramState program_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, CheckBoxSwitchesBetweenTheDecodedAndTheRawEntry) {
  const Bytes frame = SatelliteKiss(sample::SatellitePayload(4711, 'S', 1, 0x0100, 25));
  Feed(frame);
  ASSERT_EQ(Pane().LineCount(), 6);  // separator, summary, control, address, two dump lines
  const QString entry = QStringLiteral(
                            "\n2009-06-20 14:05:09.437 UTC: [%1 Bytes KISS Frame (without CRC)]\n"
                            "ctrl: 3   PID: F0 {UI}   25 Payload Bytes\nfrom QQ0SAT to QQ0GND: \n"
                            " 1   > 12 67 53 01 01 00 ")
                            .arg(frame.size());
  EXPECT_EQ(Pane().toPlainText().left(entry.size()), entry);
  EXPECT_TRUE(Line(5).startsWith(" 21  > "));
  const Rgb colours[] = {kMonitorGrey, kMonitorGrey, kMonitorBlack, kMonitorBlue, kMonitorBlue};
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(LineColour(i), ToQColor(colours[i - 1])) << i;

  auto* analyze = Child<QCheckBox>("AnalyzeFrame");
  EXPECT_EQ(analyze->text(), "Decode KISS Frame");
  analyze->click();
  Feed({0xC0, 0x00, 0xC0});
  ASSERT_EQ(Pane().LineCount(), 9);
  EXPECT_TRUE(Line(7).endsWith("[3 Bytes KISS Frame (without CRC)]"));
  EXPECT_EQ(Line(8), " 1   > C0 00 C0 ");
  EXPECT_EQ(LineColour(8), ToQColor(kMonitorBlue));

  analyze->click();
  Feed(frame);
  EXPECT_TRUE(Line(11).startsWith("ctrl: 3"));
}

TEST_F(MainWindowTest, ClearEmptiesMonitorCountersAndCounterLabel) {
  auto* counter = Child<QLabel>("ReceiveCounterLabel");
  const Bytes frame = SatelliteKiss(sample::SatellitePayload(1, 'S', 1, 0, 10));
  Feed(frame);
  EXPECT_EQ(counter->text(), QStringLiteral("%1 Bytes received (1 Frames)").arg(frame.size()));

  QSignalSpy cleared(window_.get(), &MainWindow::Cleared);
  auto* clear = Child<QAction>("MnuClear");
  EXPECT_EQ(clear->text(), "&Clear");
  clear->trigger();
  EXPECT_EQ(cleared.count(), 1);
  EXPECT_EQ(Pane().LineCount(), 0);
  EXPECT_EQ(counter->text(), "");
  EXPECT_EQ(program_.station.receive.ByteCount, 0);
  EXPECT_EQ(program_.station.receive.FrameCount, 0);
}

TEST_F(MainWindowTest, HexdumpEntryTogglesItsMarkAndTheOption) {
  auto* hexdump = Child<QAction>("Mnu_ASCII_Hexdump");
  EXPECT_EQ(hexdump->text(), "Write Payload to ASCII File (Hexdump)");
  QSignalSpy toggled(window_.get(), &MainWindow::HexdumpToggled);
  for (const bool on : {true, false}) {
    hexdump->trigger();
    EXPECT_EQ(window_->HexdumpChecked(), on);
    EXPECT_EQ(Options().hexdump, on);
    ASSERT_EQ(toggled.count(), 1);
    EXPECT_EQ(toggled.takeFirst().at(0).toBool(), on);
  }
}

TEST_F(MainWindowTest, ThresholdFieldsTakeTheirColourFromEachPowerRecord) {
  // Both heater thresholds and powersafe at their reference, emergency off it.
  Bytes p = sample::SatellitePayload(4711, 'S', 1, 0x0100, 100);
  p[6] = 0x29;
  p[70] = 0x14;
  p[42] = 200;  // heater on: -56
  p[43] = 200;  // heater off: -56
  p[44] = 178;  // powersafe: 3.49
  p[45] = 171;  // emergency: not 3.33
  Feed(SatelliteKiss(p));
  EXPECT_EQ(Field(41)->text(), "-56");
  const Rgb expected[] = {kThresholdGreen, kThresholdGreen, kThresholdGreen, kThresholdRed};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Field(41 + i)->palette().color(QPalette::Base), ToQColor(expected[i])) << i;
  }
  // A new window starts with normal, empty fields again.
  window_ = std::make_unique<MainWindow>(program_);
  for (int index = 41; index <= 44; ++index) {
    EXPECT_EQ(Field(index)->palette().color(QPalette::Base), QPalette().color(QPalette::Base));
    EXPECT_EQ(Field(index)->text(), "") << index;
  }
}

TEST_F(MainWindowTest, VisibleFieldsMirrorTheStoreAndHiddenOnesHaveNoWidget) {
  EXPECT_EQ(Child<QLabel>("ClockLabel")->text(), "sync...");  // until the first tick
  EXPECT_EQ(Child<QPushButton>("Command4")->text(), "TNC2 @K");
  Feed(sample::MakePass({.frames = 120}));
  int shown = 0;
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    QLineEdit* field = Field(index);
    if (DisplayFieldTable()[static_cast<std::size_t>(index)].group == FieldGroup::kHidden) {
      EXPECT_EQ(field, nullptr) << index;
      continue;
    }
    ASSERT_NE(field, nullptr) << index;
    EXPECT_EQ(field->text().toStdString(), program_.fields.Field(index)) << index;
    EXPECT_TRUE(field->isReadOnly());
    shown += field->text().isEmpty() ? 0 : 1;
  }
  EXPECT_GT(shown, 50);
  EXPECT_FALSE(program_.fields.Field(54).empty());  // hidden, but written all the same
  for (std::size_t b = 0; b < kBoxCount; ++b) {
    auto* box = Child<QLineEdit>(QString::fromLatin1(BoxTable()[b].element));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text().toStdString(), program_.fields.BoxText(static_cast<Box>(b)));
  }
  for (std::size_t g = 0; g < kGaugeCount; ++g) {
    auto* gauge = Child<QLabel>(QString::fromLatin1(GaugeTable()[g].element));
    ASSERT_NE(gauge, nullptr);
    EXPECT_TRUE(gauge->text().endsWith('%'));
  }
}

TEST_F(MainWindowTest, SerialConditionsGoToTheStatusBarAndReceptionEmptiesIt) {
  testing::FakePort port;
  window_->pipeline().path().OnComm(1004, port);
  EXPECT_EQ(window_->StatusText(), "Framing Error");
  Feed({0x41});
  EXPECT_EQ(window_->StatusText(), "");
}

// New entries go to the end whatever the user clicked or selected, and the view
// follows them only while it is scrolled to the bottom.
TEST_F(MainWindowTest, NewEntriesGoToTheEndAndTheViewFollowsOnlyAtTheBottom) {
  window_->show();
  Feed(SatelliteKiss(sample::SatellitePayload(1, 'S', 1, 0, 10)));
  const QString first_entry = Pane().toPlainText();
  QTest::mouseClick(Pane().viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  QTextCursor selection(Pane().document());
  selection.setPosition(2);
  selection.setPosition(12, QTextCursor::KeepAnchor);
  Pane().setTextCursor(selection);
  Options().analyze_frame = false;
  Feed({0xC0, 0x00, 0xC0});
  EXPECT_TRUE(Pane().toPlainText().startsWith(first_entry));
  EXPECT_TRUE(Pane().toPlainText().endsWith(" 1   > C0 00 C0 "));
  EXPECT_EQ(Pane().textCursor().selectionStart(), 2);
  EXPECT_EQ(Pane().textCursor().selectionEnd(), 12);

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

TEST_F(MainWindowTest, MonitorKeepsTheNewestLinesAndJoinsTextsUntilACarriageReturn) {
  const int total = kMonitorLineLimit + 250;
  for (int i = 0; i < total; ++i) {
    Pane().AppendMonitorText(QStringLiteral("line %1\r").arg(i).toStdString(), ColourRole::kDump);
  }
  EXPECT_EQ(Pane().LineCount(), kMonitorLineLimit);
  EXPECT_EQ(Line(0), "line 250");
  EXPECT_EQ(Line(kMonitorLineLimit - 1), QStringLiteral("line %1").arg(total - 1));
  EXPECT_EQ(LineColour(0), ToQColor(kMonitorBlue));

  window_->ClearMonitor();
  EXPECT_EQ(Pane().LineCount(), 0);
  Pane().AppendMonitorText("from ", ColourRole::kSummary);
  Pane().AppendMonitorText("here\r\r", ColourRole::kAddress);
  Pane().AppendMonitorText("next\r", ColourRole::kDump);
  EXPECT_EQ(Pane().toPlainText(), "from here\n\nnext");
  EXPECT_EQ(LineColour(0), ToQColor(kMonitorGrey));
  EXPECT_EQ(LineColour(2), ToQColor(kMonitorBlue));
}

}  // namespace
}  // namespace zevrin
