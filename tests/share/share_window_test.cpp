// Sharing in the desktop program, offscreen: the "Share Telemetry..." dialog and the
// sharing state on the main window, against a web server the test runs on 127.0.0.1.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

#include "outputs/archive/archive_writer.h"
#include "outputs/frame_recorder.h"
#include "outputs/share/http_post.h"
#include "sample/sample_pass.h"
#include "session/desktop_sharing.h"
#include "support/fakes.h"
#include "support/http_recorder.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"
#include "windows/main_window.h"

namespace zevrin {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

[[maybe_unused]] const int kLoopbackOnly = ::setenv(kLoopbackOnlyVariable, "1", 1);

template <typename T>
T* Child(QWidget* parent, const char* name) {
  return parent->findChild<T*>(QString::fromLatin1(name));
}

// Why nothing is shared follows the fields as they are typed; which gap is named
// when is the settings' own test.
TEST(ShareDialogTest, SaysWhyNothingIsSharedUntilCompleteAndWritesAPrivateFile) {
  testing::TempDir dir("share-dialog");
  const std::string path = (dir / "zevrinkiss-share.ini").string();
  auto* dialog = new ShareDialog(ShareSettings{}, path);
  QSignalSpy saved(dialog, &ShareDialog::Saved);
  dialog->show();
  QLabel* reason = Child<QLabel>(dialog, "ShareReason");
  EXPECT_EQ(reason->text(), "Nothing is shared: not turned on");
  Child<QCheckBox>(dialog, "ShareEnabled")->setChecked(true);
  Child<QLineEdit>(dialog, "ShareCallsign")->setText("dl1abc");
  Child<QLineEdit>(dialog, "ShareLatitude")->setText("49.73145");
  Child<QLineEdit>(dialog, "ShareLongitude")->setText("-8.95564");
  EXPECT_THAT(reason->text().toStdString(), HasSubstr("NORAD"));
  Child<QLineEdit>(dialog, "ShareNorad")->setText("99999");
  EXPECT_EQ(reason->text(), "The satellite's frames are shared.");

  QTest::mouseClick(Child<QPushButton>(dialog, "ShareAddServer"), Qt::LeftButton);
  auto* servers = Child<QTableWidget>(dialog, "ShareServers");
  servers->item(1, 0)->setText("https://telemetry.example.org/sids");
  servers->item(1, 1)->setText("t0ken");
  dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();

  ASSERT_EQ(saved.count(), 1);
  const std::optional<ShareSettings> written = ReadShareSettings(path);
  ASSERT_TRUE(written);
  EXPECT_EQ(SharingOffReason(*written), std::nullopt);
  EXPECT_EQ(
      std::tuple(written->station.callsign, written->station.longitude, written->servers.size()),
      std::tuple("DL1ABC", -8.95564, 2u));  // upper case, as servers expect
  EXPECT_EQ(written->servers[1], (ShareServer{"https://telemetry.example.org/sids", "t0ken"}));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file may hold API tokens";
}

// The main window's status line follows what the sender does with the frames that the
// window's receive path archives.
TEST(ShareWindowTest, TheMenuAsksForTheDialogAndTheStatusLineFollowsTheSender) {
  testing::TempDir dir("share-window");
  testing::HttpRecorder server;
  server.Script({{503, "busy", false}});
  const ShareSettings settings{.enabled = true,
                               .station = {"DL1ABC", 49.73145, 8.95564, 99999},
                               .servers = {{server.url(), ""}}};
  ASSERT_EQ(WriteShareSettings((dir / "zevrinkiss-share.ini").string(), settings), std::nullopt);

  testing::FixedClock clock;
  DesktopProgram program(clock);
  MainWindow window(program);
  DesktopSharing sharing((dir / "zevrinkiss.ini").string(), RetryTimings{100ms, 200ms});
  sharing.SetWindow(&window);
  ArchiveWriter archive(nullptr);
  archive.AddExtension(&sharing.sharer());
  const std::string archive_path = (dir / "Lab_archive.sqlite").string();
  ASSERT_TRUE(archive.Open(archive_path));
  sharing.ArchiveOpened(archive_path);
  FrameRecorder recorder(window.pipeline().analysis(), program.decoder, program.fields, clock);
  recorder.AddSink(&archive);
  window.pipeline().path().SetFrameHandler(&recorder);

  QSignalSpy share_requested(&window, &MainWindow::ShareRequested);
  window.findChild<QAction*>(QStringLiteral("MnuShare"))->trigger();
  EXPECT_EQ(share_requested.count(), 1);

  for (int n = 0; n < 3; ++n) {
    clock.Set({1245506709 + n, 0});
    window.Receive(
        sample::KissFrame(sample::SatelliteFrame(sample::SatellitePayload(n, 'S', n, 0, 30))));
  }
  QLabel* line = window.share_status();
  ASSERT_TRUE(testing::WaitFor([&] {
    return line->text().startsWith("Sharing: 3 sent, 0 waiting");
  })) << line->text().toStdString();
  EXPECT_EQ(server.count(), 4u) << "the first try was answered 503";
  EXPECT_THAT(line->toolTip().toStdString(),
              AllOf(HasSubstr(server.url()), HasSubstr("3 sent, 0 waiting, 0 refused")));
}

}  // namespace
}  // namespace zevrin
