// The InfluxDB feed in the desktop program: its group box, and the session part
// that reads the feeds file, sends an archive's queue and shows its state after
// the sharing's on the status line.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "dialogs/influx_box.h"
#include "sample/sample_pass.h"
#include "session/desktop_influx.h"
#include "session/desktop_sharing.h"
#include "support/archive_db.h"
#include "support/http_recorder.h"
#include "support/qt_wait.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "windows/main_window.h"

namespace zevrin {
namespace {

using ::testing::HasSubstr;

TEST(InfluxBox, ShowsTheSettingsAndWhyTheyCannotBeUsed) {
  const InfluxSettings settings{true, "http://h:8086/write?db=x", "station", "pw", ""};
  InfluxBox box(settings);
  EXPECT_EQ(box.Chosen(), settings);
  auto* problem = box.findChild<QLabel*>(QStringLiteral("InfluxProblem"));
  ASSERT_NE(problem, nullptr);
  EXPECT_TRUE(problem->isHidden());
  box.findChild<QLineEdit*>(QStringLiteral("InfluxUrl"))->setText(QStringLiteral("http://h/query"));
  EXPECT_FALSE(problem->isHidden());
  EXPECT_THAT(problem->text().toStdString(), HasSubstr("not an InfluxDB write address"));
  box.setChecked(false);  // a feed that is off has nothing wrong with it
  EXPECT_TRUE(problem->isHidden());
  EXPECT_FALSE(box.Chosen().enabled);
}

// Records queued in the archive (nothing listened when they were decoded) go out
// once the program runs with a feeds file that names a database that answers; the
// state follows the sharing's on its line.
TEST(DesktopInflux, SendsTheArchivesQueueAndShowsItsStateOnTheSharingLine) {
  const testing::TempDir dir("influx-desktop");
  sample::PassOptions options;
  options.frames = 120;
  const sample::Bytes pass = sample::MakePass(options);
  dir.Write("pass.kss", std::string(pass.begin(), pass.end()));
  const std::string archive = (dir / "a.sqlite").string();
  std::string out;
  ASSERT_EQ(testing::RunShell(std::string(ZEVRIN_DECODE_BINARY) + " --archive " + archive +
                                  " --influx http://127.0.0.1:9/write?db=x --influx-wait 0 " +
                                  (dir / "pass.kss").string() + " 2>&1",
                              out),
            0)
      << out;
  const long queued = std::stol(testing::Db(archive).One("SELECT count(*) FROM influx_points"));
  ASSERT_GT(queued, 10);

  testing::HttpRecorder server;
  server.Script({}, {204, ""});
  dir.Write("zevrinkiss-feeds.ini",
            InfluxSettingsLines({true, server.url("/write?db=tarvelo"), "", "", ""}));
  const std::string settings_file = (dir / "zevrinkiss.ini").string();
  DesktopSharing sharing(settings_file);
  DesktopInflux influx(settings_file);
  const SystemClock clock;
  DesktopProgram program(clock);
  MainWindow window(program);
  sharing.SetWindow(&window);
  auto* line = window.findChild<QLabel*>(QStringLiteral("ShareStatus"));
  ASSERT_NE(line, nullptr);
  const std::string sharing_only = line->text().toStdString();
  influx.SetStatusSink([&](const std::string& text, const std::string& details) {
    sharing.SetFeedStatus(text, details);
  });
  EXPECT_EQ(line->text().toStdString(), sharing_only + " | InfluxDB: waiting for the archive");
  influx.ArchiveOpened(archive);
  ASSERT_TRUE(testing::WaitFor([&] {
    return line->text().toStdString() ==
           sharing_only + " | InfluxDB: " + std::to_string(queued) + " sent, 0 queued";
  })) << line->text().toStdString();
  EXPECT_EQ(testing::Db(archive).One("SELECT count(*) FROM influx_points"), "0");

  // Turned off: the sharing's line as it was.
  influx.Apply({});
  EXPECT_EQ(line->text().toStdString(), sharing_only);
}

}  // namespace
}  // namespace zevrin
