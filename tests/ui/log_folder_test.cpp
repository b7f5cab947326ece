// The desktop program on the places of an installed program: the settings and the
// "comN" links in the user's configuration folder, the logs in a folder of their
// own, which the About window names and "Open Log Folder" hands to the desktop.

#include <gtest/gtest.h>

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QTcpServer>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "adapters/qt_serial_port.h"
#include "link/pty.h"
#include "session/station_window.h"
#include "support/fakes.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"
#include "windows/about_window.h"

namespace zevrin {

// Takes the URLs the program asks the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  Q_INVOKABLE void Open(const QUrl& url) { urls.push_back(url); }
  std::vector<QUrl> urls;
};

namespace {

namespace fs = std::filesystem;

TEST(LogFolderTest, TheUsersFoldersAreUsedAndTheLogFolderIsShownAndOpened) {
  testing::TempDir dir("log-folder");
  const fs::path work = dir / "work", config = dir / "config", logs = dir / "data";
  for (const fs::path& folder : {work, config, logs}) fs::create_directories(folder);
  testing::Pty pty;
  ASSERT_TRUE(pty.ok());
  fs::create_symlink(pty.slave_path(), config / "com1");
  std::ofstream(config / "zevrinkiss.ini") << "01,9600,N,8,1\r\n127.0.0.1\r\nLab\r\n";
  QTcpServer time_server;  // listens, never answers: no clock is set
  ASSERT_TRUE(time_server.listen(QHostAddress::LocalHost));

  // The settings file's folder is searched for "comN" before the working directory.
  const StationWindowConfig settings{{(config / "zevrinkiss.ini").string(), logs.string()},
                                     work.string(),
                                     time_server.serverPort()};
  testing::FixedClock clock({FromCivil({2009, 6, 20, 10, 0, 0}), 0});
  DesktopProgram program(clock);
  testing::NoClockSetter setter;
  StationWindow station(program, setter, settings);
  station.Start();
  ASSERT_TRUE(station.port()->IsOpen());
  EXPECT_EQ(station.port()->device(), pty.slave_path());
  EXPECT_TRUE(fs::exists(logs / "Lab_20062009_1000.kss"));

  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  station.window()->findChild<QAction*>(QStringLiteral("MnuOpenLogFolder"))->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(catcher.urls.size(), 1u);
  EXPECT_EQ(catcher.urls[0].toLocalFile().toStdString(), logs.string());

  station.window()->findChild<QAction*>(QStringLiteral("MnuAbout"))->trigger();
  ASSERT_NE(CurrentAboutWindow(), nullptr);
  const auto* shown = CurrentAboutWindow()->findChild<QLabel*>(QStringLiteral("LogFolder"));
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->toolTip().toStdString(), logs.string());
  EXPECT_EQ(shown->textFormat(), Qt::PlainText);
  // Shortened in the middle only when it does not fit: both ends always show.
  EXPECT_TRUE(shown->text().startsWith(QStringLiteral("/")));
  EXPECT_TRUE(shown->text().endsWith(QStringLiteral("data")));
  EXPECT_LE(shown->fontMetrics().horizontalAdvance(shown->text()), shown->width());
  delete CurrentAboutWindow();
  station.End();
}

}  // namespace
}  // namespace zevrin

#include "log_folder_test.moc"
