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

class StatusWindowTest : public ::testing::Test {
 protected:
  StatusWindowTest() : program_(clock_), window_(std::make_unique<MainWindow>(program_)) {}
  ~StatusWindowTest() override { program_.status_windows.CloseAll(); }

  // Receives a system record whose system status byte (field 69) is `status`.
  void ReceiveSystemRecord(std::uint8_t status) {
    sample::Bytes p = sample::SatellitePayload(4711, 'S', 2, 0x0100, 110);
    p[6] = 0x17;
    p[70] = 0x40;
    p[73] = status;
    window_->Receive(sample::KissFrame(sample::SatelliteFrame(p)));
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
    auto* picture = window_->findChild<QToolButton*>(QStringLiteral("StatusPicture_%1").arg(field));
    ASSERT_NE(picture, nullptr) << field;
    picture->click();
    picture->click();
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* window = qobject_cast<StatusWindowWidget*>(widget);
      open += window != nullptr && window->kind() == kind && !window->isHidden();
    }
    EXPECT_EQ(open, 1) << field;
    StatusWindowWidget* opened = program_.status_windows.Window(kind);
    ASSERT_NE(opened, nullptr) << field;
    const StatusWindowInfo& info = StatusWindowData(kind);
    EXPECT_EQ(opened->windowTitle().toStdString(), info.caption);
    EXPECT_EQ(opened->findChild<QLabel*>(QStringLiteral("Title"))->text().toStdString(),
              info.title);
    EXPECT_EQ(opened->size(), QSize(info.client_width, info.client_height));
    EXPECT_EQ(opened->LineCount(), info.line_count);
    EXPECT_FALSE(opened->isModal());
  }
  StatusWindowWidget* gps = program_.status_windows.Window(StatusWindow::kGps);
  EXPECT_EQ(gps->findChild<QLabel*>(QStringLiteral("Title"))->text(), "TARVELO GPS Status");
  ASSERT_NE(gps->findChild<QLineEdit*>(QStringLiteral("Digits")), nullptr);
  EXPECT_EQ(gps->findChild<QLabel*>(QStringLiteral("Line1"))->y() -
                gps->findChild<QLabel*>(QStringLiteral("Line0"))->y(),
            16);
}

// Lines follow a housekeeping frame at the next tick, keep their texts across a
// restart of the main window, and start from their resting captions when reopened.
TEST_F(StatusWindowTest, LinesFollowTheFieldAtEachTick) {
  StatusWindowWidget* window = program_.status_windows.Open(StatusWindow::kSystem);
  window->Tick();  // before any frame: the resting captions stay
  EXPECT_EQ(window->DigitText(), "");
  EXPECT_EQ(window->LineText(0), "bit 7");
  EXPECT_EQ(window->LineText(7), "bit 0");

  ReceiveSystemRecord(0x81);
  EXPECT_EQ(window->LineText(0), "bit 7");  // nothing before the tick
  window->Tick();
  EXPECT_EQ(window->DigitText(), "10000001");
  EXPECT_EQ(window->LineText(0), "bit 7 [1]: ADCS has plausible TIME information");
  EXPECT_EQ(window->LineText(1), "bit 6 [0]: There is NO VALID orbit information");
  EXPECT_EQ(window->LineText(7), "bit 0 [1]: the ADCS handles the SUN SENSORS as being ON");

  window_ = std::make_unique<MainWindow>(program_);  // fields start empty again
  ASSERT_EQ(program_.status_windows.Window(StatusWindow::kSystem), window);
  window->Tick();
  EXPECT_EQ(window->DigitText(), "");
  EXPECT_EQ(window->LineText(0), "bit 7 [1]: ADCS has plausible TIME information");
  ReceiveSystemRecord(0x01);
  window->Tick();
  EXPECT_EQ(window->LineText(0), "bit 7 [0]: There is NO VALID TIME information");

  window->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(program_.status_windows.Window(StatusWindow::kSystem), nullptr);
  StatusWindowWidget* again = program_.status_windows.Open(StatusWindow::kSystem);
  EXPECT_EQ(again->DigitText(), "");
  EXPECT_EQ(again->LineText(0), "bit 7");
}

TEST_F(StatusWindowTest, ItsOwnTimerTicksEverySecond) {
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
