// The main window offscreen, fed frames directly, with its status and About windows.
// Entry texts, field values, threshold rules and status lines are the core's; here only
// that the windows show them, fit them and pass the user's actions on.

#include "windows/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "base/colours.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "support/qt_wait.h"
#include "windows/about_window.h"
#include "windows/status_window.h"

namespace zevrin {
namespace {

using testing::Bytes;

QColor ToQColor(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : program_(clock_), window_(std::make_unique<MainWindow>(program_)) {}
  ~MainWindowTest() override { program_.status_windows.CloseAll(); }

  // One notification, then the rest of the event loop's turn.
  void Feed(const Bytes& p) {
    window_->Receive(sample::KissFrame(sample::SatelliteFrame(p)));
    QCoreApplication::processEvents();
  }
  template <typename T>
  T* Child(const QString& name) const {
    return window_->findChild<T*>(name);
  }
  QLineEdit* Field(int i) const { return Child<QLineEdit>(QStringLiteral("Text1_%1").arg(i)); }
  MonitorPane& Pane() const { return window_->monitor(); }
  // A click on the monitor at character `column` of the `row`th line in view.
  void Click(int column, int row, Qt::KeyboardModifiers keys = {}) {
    const qreal width = QFontMetricsF(Pane().font()).horizontalAdvance(u'0');
    const qreal height = QFontMetricsF(Pane().font()).lineSpacing();
    const QPointF at(4 + (column + 0.2) * width, 6 + row * height);
    QTest::mouseClick(Pane().viewport(), Qt::LeftButton, keys, at.toPoint());
  }

  testing::FixedClock clock_;
  DesktopProgram program_;
  std::unique_ptr<MainWindow> window_;
};

// New entries go to the end whatever the user clicked or selected, decoded or raw as
// the check box says, each line in its role's colour; the view follows them only while
// scrolled to the bottom, drops the oldest lines past its limit, and Clear empties it
// and the counters: the next frame is the first again.
TEST_F(MainWindowTest, MonitorAppendsAtTheEndFollowsOnlyAtTheBottomAndKeepsItsLimit) {
  window_->show();
  const Bytes payload = sample::SatellitePayload(4711, 'S', 1, 0x0100, 25);
  Feed(payload);
  const QString first_entry = Pane().PlainText();
  EXPECT_TRUE(first_entry.contains("ctrl: 3"));
  Click(1, 1);  // the first line is empty
  Click(11, 1, Qt::ShiftModifier);
  Child<QCheckBox>("AnalyzeFrame")->click();  // raw entries from now on
  Feed(payload);
  ASSERT_TRUE(Pane().PlainText().startsWith(first_entry));
  const QString raw_entry = Pane().PlainText().mid(first_entry.size());
  EXPECT_FALSE(raw_entry.contains("ctrl: 3"));
  EXPECT_TRUE(raw_entry.contains(" 1   > C0 00 "));  // the whole KISS frame
  EXPECT_EQ(Pane().SelectedText(), first_entry.mid(2, 10));
  EXPECT_EQ(Pane().ColourAt(5, 0), ToQColor(kMonitorBlue));

  QScrollBar* bar = Pane().verticalScrollBar();
  // `n` lines in one turn of the event loop.
  const auto append = [&](int n) {
    for (int i = 0; i < n; ++i)
      Pane().AppendMonitorText(QStringLiteral("line %1\r").arg(i).toStdString(), ColourRole::kDump);
    QCoreApplication::processEvents();
  };
  append(500);
  ASSERT_GT(bar->maximum(), 100);
  bar->setValue(100);
  append(50);
  EXPECT_EQ(bar->value(), 100);
  bar->setValue(bar->maximum());
  append(kMonitorLineLimit + 250);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(Pane().LineCount(), kMonitorLineLimit);
  EXPECT_TRUE(Pane().PlainText().startsWith("line 250\n"));
  // Texts of one turn are shown together when it ends; the user's view, moved
  // up, then stays on the same lines while three are dropped at the top.
  bar->setValue(bar->maximum() - 40);
  const int moved_to = bar->value();
  const QString before = Pane().PlainText();
  const QImage view = Pane().viewport()->grab().toImage();
  for (int i = 0; i < 3; ++i) Pane().AppendMonitorText("more\r", ColourRole::kDump);
  EXPECT_EQ(Pane().PlainText(), before);
  QCoreApplication::processEvents();
  EXPECT_TRUE(Pane().PlainText().endsWith("more\nmore\nmore"));
  EXPECT_EQ(bar->value(), moved_to - 3);
  EXPECT_EQ(Pane().viewport()->grab().toImage(), view);

  auto* counter = Child<QLabel>("ReceiveCounterLabel");
  Child<QAction>("MnuClear")->trigger();
  EXPECT_EQ(Pane().LineCount(), 0);
  EXPECT_EQ(counter->text(), "");
  Feed(payload);
  EXPECT_TRUE(counter->text().endsWith(" (1 Frames)")) << counter->text().toStdString();
}

// A line takes the colour of each of its runs. A selection made with the mouse
// across a line break, or with Ctrl+A and shift+arrows, is drawn highlighted and
// copied with Ctrl+C.
TEST_F(MainWindowTest, MonitorColoursItsRunsAndCopiesASelectionAcrossLines) {
  window_->show();
  Pane().AppendMonitorText("ab", ColourRole::kSummary);
  Pane().AppendMonitorText("cd\r", ColourRole::kDump);
  Pane().AppendMonitorText("ef\r", ColourRole::kAddress);
  QCoreApplication::processEvents();
  EXPECT_EQ(Pane().PlainText(), "abcd\nef");
  EXPECT_EQ(Pane().ColourAt(0, 1), ToQColor(kMonitorGrey));
  EXPECT_EQ(Pane().ColourAt(0, 2), ToQColor(kMonitorBlue));
  EXPECT_EQ(Pane().ColourAt(1, 0), ToQColor(kMonitorBlack));
  const auto highlighted = [&] {
    const QImage view = Pane().viewport()->grab().toImage();
    const QColor colour = Pane().palette().color(
        Pane().hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight);
    int n = 0;
    for (int y = 0; y < view.height(); ++y)
      for (int x = 0; x < view.width(); ++x) n += view.pixelColor(x, y) == colour;
    return n;
  };
  EXPECT_EQ(highlighted(), 0);
  Click(1, 0);
  Click(1, 1, Qt::ShiftModifier);
  EXPECT_EQ(Pane().SelectedText(), "bcd\ne");
  EXPECT_GT(highlighted(), 0);
  QTest::keyClick(&Pane(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "bcd\ne");
  QTest::keyClick(&Pane(), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(&Pane(), Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(Pane().SelectedText(), "abcd\ne");
}

// After a pass every visible field and box shows what the store holds; hidden fields
// have no widget. A field takes the store's colour and loses it again. Every label of
// every window shows plain text, so text from a settings file or a frame is never
// read as markup.
TEST_F(MainWindowTest, FieldsMirrorTheStoresTextsAndColours) {
  window_->Receive(sample::MakePass({.frames = 120}));
  int shown = 0;
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    QLineEdit* field = Field(index);
    const bool hidden = DisplayFieldTable()[index].group == FieldGroup::kHidden;
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
  const QColor plain = Field(0)->palette().color(QPalette::Base);  // never coloured
  for (const FieldColour colour : {FieldColour::kGreen, FieldColour::kRed, FieldColour::kNormal}) {
    program_.fields.SetFieldColour(41, colour);
    const std::optional<Rgb> rgb = FieldColourRgb(colour);
    EXPECT_EQ(Field(41)->palette().color(QPalette::Base), rgb ? ToQColor(*rgb) : plain);
  }
  std::vector<QWidget*> windows = {window_.get(), OpenAboutWindow()};
  for (int k = 0; k < kStatusWindowCount; ++k)
    windows.push_back(program_.status_windows.Open(static_cast<StatusWindow>(k)));
  for (QWidget* window : windows) {
    for (QLabel* label : window->findChildren<QLabel*>()) {
      EXPECT_EQ(label->textFormat(), Qt::PlainText)
          << window->objectName().toStdString() << "/" << label->objectName().toStdString();
    }
  }
  delete CurrentAboutWindow();
}

// Each status picture opens its own window, and it and the About entry open their
// window once however often clicked; a closed window is forgotten. Status lines follow
// the store at the next tick only, and the window outlives a restart of the main
// window; reopened it starts at rest, and its own timer ticks.
TEST_F(MainWindowTest, PicturesOpenTheirWindowOnceAndStatusWindowsFollowTheStoreAtEachTick) {
  for (int n = 0; n < 2; ++n) {
    Child<QAction>("MnuAbout")->trigger();
    for (int k = 0; k < kStatusWindowCount; ++k) {
      const int field = StatusWindowData(static_cast<StatusWindow>(k)).field;
      Child<QToolButton>(QStringLiteral("StatusPicture_%1").arg(field))->click();
    }
  }
  int status_open = 0, about_open = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    status_open += qobject_cast<StatusWindowWidget*>(widget) != nullptr && !widget->isHidden();
    about_open += qobject_cast<AboutWindow*>(widget) != nullptr && !widget->isHidden();
  }
  EXPECT_EQ(status_open, kStatusWindowCount);
  EXPECT_EQ(about_open, 1);

  const StatusView rest = RestingView(StatusWindow::kSystem);
  StatusWindowWidget* window = program_.status_windows.Window(StatusWindow::kSystem);
  program_.fields.WriteField(69, "10000001");
  EXPECT_EQ(window->TextBuilder(0).toStdString(), rest.lines[0]);
  window->Tick();
  EXPECT_EQ(window->DigitText(), "10000001");
  EXPECT_EQ(window->TextBuilder(0).toStdString(),
            TickView(StatusWindow::kSystem, "10000001", "", rest).lines[0]);
  window_ = std::make_unique<MainWindow>(program_);
  ASSERT_EQ(program_.status_windows.Window(StatusWindow::kSystem), window);
  window->close();
  CurrentAboutWindow()->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(program_.status_windows.Window(StatusWindow::kSystem), nullptr);
  EXPECT_EQ(CurrentAboutWindow(), nullptr);
  StatusWindowWidget* again = program_.status_windows.Open(StatusWindow::kSystem);
  EXPECT_EQ(again->TextBuilder(0).toStdString(), rest.lines[0]);
  program_.fields.WriteField(69, "11111111");
  EXPECT_TRUE(testing::WaitFor([&] { return again->DigitText() == "11111111"; }, 3000));
}

}  // namespace
}  // namespace zevrin
