// The six status windows, opened from the main window's pictures, offscreen.

#include "ui/status_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "ui/main_window.h"

namespace zevrin {
namespace {

using sample::Bytes;

// A system record whose system status byte (field 69) is `status`.
Bytes SystemRecordFrame(std::uint8_t status) {
  Bytes p = sample::SatellitePayload(4711, 'S', 2, 0x0100, 110);
  p[6] = 0x17;
  p[70] = 0x40;
  p[73] = status;
  return sample::KissFrame(sample::SatelliteFrame(p));
}

int OpenWindowsOf(StatusWindow kind) {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* window = qobject_cast<StatusWindowWidget*>(widget);
    if (window != nullptr && window->kind() == kind && !window->isHidden()) ++count;
  }
  return count;
}

class StatusWindowTest : public ::testing::Test {
 protected:
  StatusWindowTest() : program_(clock_), window_(std::make_unique<MainWindow>(program_)) {}
  ~StatusWindowTest() override { program_.status_windows.CloseAll(); }

  QToolButton* Picture(int field) const {
    return window_->findChild<QToolButton*>(QStringLiteral("StatusPicture_%1").arg(field));
  }

  testing::FixedClock clock_;
  ProgramState program_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(StatusWindowTest, EachPictureOpensItsWindowOnce) {
  const std::pair<int, StatusWindow> pictures[] = {
      {69, StatusWindow::kSystem},          {70, StatusWindow::kResource},
      {71, StatusWindow::kMagnetometer},    {72, StatusWindow::kSunSensorStatus},
      {73, StatusWindow::kSunSensorConfig}, {74, StatusWindow::kGps},
  };
  for (const auto& [field, kind] : pictures) {
    QToolButton* picture = Picture(field);
    ASSERT_NE(picture, nullptr) << field;
    picture->click();
    StatusWindowWidget* opened = program_.status_windows.Window(kind);
    ASSERT_NE(opened, nullptr) << field;
    const StatusWindowInfo& info = StatusWindowData(kind);
    EXPECT_EQ(opened->windowTitle().toStdString(), info.caption);
    EXPECT_EQ(opened->size(), QSize(info.client_width, info.client_height));
    EXPECT_FALSE(opened->isModal());

    picture->click();
    EXPECT_EQ(program_.status_windows.Window(kind), opened) << field;
    EXPECT_EQ(OpenWindowsOf(kind), 1) << field;
  }
}

TEST_F(StatusWindowTest, TitleDigitFieldAndLinePitch) {
  StatusWindowWidget* window = program_.status_windows.Open(StatusWindow::kGps);
  auto* title = window->findChild<QLabel*>(QStringLiteral("Title"));
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->text(), "TARVELO GPS Status");
  ASSERT_NE(window->findChild<QLineEdit*>(QStringLiteral("Digits")), nullptr);
  EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Line1"))->y() -
                window->findChild<QLabel*>(QStringLiteral("Line0"))->y(),
            16);
}

TEST_F(StatusWindowTest, LinesFollowAHousekeepingFrameAtTheNextTick) {
  StatusWindowWidget* window = program_.status_windows.Open(StatusWindow::kSystem);
  ASSERT_EQ(window->LineCount(), 8);
  EXPECT_EQ(window->LineText(0), "bit 7");
  EXPECT_EQ(window->LineText(7), "bit 0");
  EXPECT_EQ(window->DigitText(), "");

  // Before any frame a tick leaves the resting captions.
  window->Tick();
  EXPECT_EQ(window->LineText(0), "bit 7");

  window_->Receive(SystemRecordFrame(0x81));
  EXPECT_EQ(window->LineText(0), "bit 7");  // nothing before the tick
  window->Tick();
  EXPECT_EQ(window->DigitText(), "10000001");
  EXPECT_EQ(window->LineText(0), "bit 7 [1]: ADCS has plausible TIME information");
  EXPECT_EQ(window->LineText(1), "bit 6 [0]: There is NO VALID orbit information");
  EXPECT_EQ(window->LineText(7), "bit 0 [1]: the ADCS handles the SUN SENSORS as being ON");
}

TEST_F(StatusWindowTest, ItsOwnTimerTicksEverySecond) {
  StatusWindowWidget* window = program_.status_windows.Open(StatusWindow::kSunSensorConfig);
  program_.fields.WriteField(73, "11111111");
  QElapsedTimer waited;
  waited.start();
  while (window->DigitText().isEmpty() && waited.elapsed() < 3000) QTest::qWait(50);
  EXPECT_GE(waited.elapsed(), 900);
  EXPECT_EQ(window->DigitText(), "11111111");
  EXPECT_EQ(window->LineText(3), "bit 4 [1]: Include the master in vector processing");
}

TEST_F(StatusWindowTest, ReopenedWindowStartsFromItsRestingCaptions) {
  StatusWindowWidget* window = program_.status_windows.Open(StatusWindow::kMagnetometer);
  program_.fields.WriteField(71, "10100011");
  window->Tick();
  EXPECT_EQ(window->LineCount(), 5);
  EXPECT_EQ(window->LineText(4), "bit 3-0 [0011]  MAG FIELD ERRORS");

  window->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(program_.status_windows.Window(StatusWindow::kMagnetometer), nullptr);

  StatusWindowWidget* again = program_.status_windows.Open(StatusWindow::kMagnetometer);
  EXPECT_EQ(again->DigitText(), "");
  EXPECT_EQ(again->LineText(0), "bit 7");
  EXPECT_EQ(again->LineText(4), "bit 3-0");
}

TEST_F(StatusWindowTest, OpenWindowsSurviveARestartOfTheMainWindow) {
  StatusWindowWidget* window = program_.status_windows.Open(StatusWindow::kSystem);
  window_->Receive(SystemRecordFrame(0x81));
  window->Tick();

  window_ = std::make_unique<MainWindow>(program_);  // fields start empty again
  ASSERT_EQ(program_.status_windows.Window(StatusWindow::kSystem), window);
  window->Tick();
  EXPECT_EQ(window->DigitText(), "");
  EXPECT_EQ(window->LineText(0), "bit 7 [1]: ADCS has plausible TIME information");

  window_->Receive(SystemRecordFrame(0x01));
  window->Tick();
  EXPECT_EQ(window->LineText(0), "bit 7 [0]: There is NO VALID TIME information");
}

}  // namespace
}  // namespace zevrin
