// The InfluxDB feed in the desktop program: the feeds that read it from the feeds
// file, send an archive's queue, show its state after the sharing's on the status
// line and take the dialog's new settings.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

#include "dialogs/influx_box.h"
#include "sample/sample_pass.h"
#include "session/desktop_feeds.h"
#include "support/archive_db.h"
#include "support/http_recorder.h"
#include "support/qt_wait.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "windows/main_window.h"

namespace zevrin {
namespace {

// Records queued in the archive (nothing listened when they were decoded) go out
// once the program runs with a feeds file that names a database that answers; the
// state follows the sharing's on its line. Turned off in the Network Feeds dialog,
// the feed stops and the line is the sharing's alone again.
TEST(DesktopInflux, SendsTheArchivesQueueAndShowsItsStateOnTheSharingLine) {
  const testing::TempDir dir("influx-desktop");
  const std::string pass = dir.WriteBytes("pass.kss", sample::MakePass({.frames = 120}));
  const std::string archive = dir.Path("a.sqlite");
  const testing::ToolRun run = testing::QueueInfluxPoints(dir, archive, pass);
  ASSERT_EQ(run.status, 0) << run.err;
  const long queued = std::stol(testing::Db(archive).One("SELECT count(*) FROM influx_points"));
  ASSERT_GT(queued, 10);

  testing::HttpRecorder server;
  server.Script({}, {204, ""});
  FeedSettings settings;
  settings.influx = {true, server.url("/write?db=tarvelo"), "", "", ""};
  ASSERT_EQ(WriteFeedSettings(dir.Path("zevrinkiss-feeds.ini"), settings), std::nullopt);
  const SystemClock clock;
  DesktopProgram program(clock);
  MainWindow window(program);
  DesktopFeeds feeds(dir.Path("zevrinkiss.ini"));
  EXPECT_EQ(feeds.influx().settings(), settings.influx);
  feeds.SetWindow(&window);
  window.SetShareStatus(QStringLiteral("Sharing off: not turned on"), {});
  const std::string sharing_only = "Sharing off: not turned on";
  const auto line = [&] { return window.share_status()->text().toStdString(); };
  EXPECT_EQ(line(), sharing_only + "  |  InfluxDB off");  // no archive yet
  feeds.influx().ArchiveOpened(archive);
  ASSERT_TRUE(testing::WaitFor([&] {
    return line() == sharing_only + "  |  InfluxDB " + std::to_string(queued) + " sent, 0 queued";
  })) << line();
  EXPECT_EQ(testing::Db(archive).One("SELECT count(*) FROM influx_points"), "0");
  EXPECT_THAT(window.share_status()->toolTip().toStdString(),
              ::testing::HasSubstr("InfluxDB " + server.url("/write?db=tarvelo")));

  feeds.OpenDialog(&window);
  ASSERT_NE(feeds.dialog(), nullptr);
  feeds.dialog()->findChild<InfluxBox*>()->setChecked(false);
  feeds.dialog()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(line(), sharing_only);
  EXPECT_FALSE(feeds.influx().settings().enabled);
}

}  // namespace
}  // namespace zevrin
