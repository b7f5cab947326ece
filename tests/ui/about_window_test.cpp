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
  EXPECT_EQ(about->windowTitle(), "About");
  EXPECT_EQ(about->size(), QSize(375, 175));
  EXPECT_EQ(about->palette().color(QPalette::Window), QColor(224, 224, 224));
  auto* version = about->findChild<QLabel*>(QStringLiteral("VersionLine"));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), "Version 1.7.4    (June 20, 2009)");
  auto* homepage = about->findChild<QLabel*>(QStringLiteral("Homepage"));
  ASSERT_NE(homepage, nullptr);
  EXPECT_TRUE(homepage->font().underline());
  EXPECT_EQ(homepage->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  const auto* picture = about->findChild<QLabel*>(QStringLiteral("Picture"));
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->pixmap().size(), QSize(128, 128));

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
