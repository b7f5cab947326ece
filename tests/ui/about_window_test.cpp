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

TEST(AboutWindowTest, MenuEntryOpensOneWindowWithTheVersionLine) {
  testing::FixedClock clock;
  ProgramState program(clock);
  MainWindow window(program);
  auto* entry = window.findChild<QAction*>(QStringLiteral("MnuAbout"));
  ASSERT_NE(entry, nullptr);
  entry->trigger();
  entry->trigger();
  AboutWindow* about = CurrentAboutWindow();
  ASSERT_NE(about, nullptr);
  int open = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    open += qobject_cast<AboutWindow*>(widget) != nullptr && !widget->isHidden();
  }
  EXPECT_EQ(open, 1);
  EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("VersionLine"))->text(),
            "Version 1.7.4    (June 20, 2009)");
  // The picture is drawn by the program itself.
  EXPECT_FALSE(about->findChild<QLabel*>(QStringLiteral("Picture"))->pixmap().isNull());

  about->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(CurrentAboutWindow(), nullptr);
  entry->trigger();
  ASSERT_NE(CurrentAboutWindow(), nullptr);
  CurrentAboutWindow()->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace zevrin
