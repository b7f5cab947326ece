// The About window, opened from the main window's menu, offscreen.

#include "ui/about_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>

#include "support/fakes.h"
#include "ui/main_window.h"

namespace zevrin {
namespace {

int OpenAboutWindows() {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<AboutWindow*>(widget) != nullptr && !widget->isHidden()) ++count;
  }
  return count;
}

TEST(AboutWindowTest, MenuEntryOpensOneWindowWithTheVersionLine) {
  testing::FixedClock clock;
  ProgramState program(clock);
  MainWindow window(program);
  auto* entry = window.findChild<QAction*>(QStringLiteral("MnuAbout"));
  ASSERT_NE(entry, nullptr);

  entry->trigger();
  AboutWindow* about = CurrentAboutWindow();
  ASSERT_NE(about, nullptr);
  auto* version = about->findChild<QLabel*>(QStringLiteral("VersionLine"));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), "Version 1.7.4    (June 20, 2009)");
  const auto* picture = about->findChild<QLabel*>(QStringLiteral("Picture"));
  ASSERT_NE(picture, nullptr);
  EXPECT_FALSE(picture->pixmap().isNull());  // drawn by the program itself

  entry->trigger();
  EXPECT_EQ(CurrentAboutWindow(), about);
  EXPECT_EQ(OpenAboutWindows(), 1);

  about->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(CurrentAboutWindow(), nullptr);
  entry->trigger();
  ASSERT_NE(CurrentAboutWindow(), nullptr);
  EXPECT_NE(CurrentAboutWindow(), about);
  CurrentAboutWindow()->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace zevrin
