// The desktop program's network feeds, offscreen: the "Network Feeds..." dialog
// with values in and out, and the feeds run behind a window's receive path with
// their state on the sharing line.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>

#include "dialogs/feeds_dialog.h"
#include "sample/sample_pass.h"
#include "session/desktop_feeds.h"
#include "support/fakes.h"
#include "support/kiss_server.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"
#include "windows/main_window.h"

namespace zevrin {
namespace {

using testing::Child;
using ::testing::HasSubstr;

void ClickOk(QDialog* dialog) {
  dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

// What the file holds shows in the fields; what is typed is written, with the
// keys of other feeds kept; settings that cannot work keep the dialog open.
TEST(FeedsDialogTest, ValuesInAndOut) {
  testing::TempDir dir("feeds-dialog");
  const std::string path = dir.Path("zevrinkiss-feeds.ini");
  FeedSettings settings;
  settings.mqtt = {true, "broker.lan", 1883, "station", "secret", false, ""};
  settings.influx = {true, "http://db:8086/write?db=x", "lab", "pw", ""};
  settings.kept = {{"later_url", "http://db:8086"}};
  auto* dialog = new FeedsDialog(settings, path, "GS/1", nullptr, {"line 3: bad"});
  QSignalSpy saved(dialog, &FeedsDialog::Saved);
  dialog->show();
  EXPECT_THAT(Child<QLabel>(dialog, "FeedsLeftOut")->text().toStdString(), HasSubstr("line 3"));
  EXPECT_TRUE(Child<QGroupBox>(dialog, "FeedsMqtt")->isChecked());
  EXPECT_EQ(Child<QLineEdit>(dialog, "FeedsMqttHost")->text(), "broker.lan");
  EXPECT_EQ(Child<QLineEdit>(dialog, "FeedsMqttPassword")->echoMode(), QLineEdit::Password);
  EXPECT_THAT(Child<QLabel>(dialog, "FeedsMqttTopics")->text().toStdString(),
              HasSubstr("zevrinkiss/GS_1/"));
  EXPECT_FALSE(Child<QGroupBox>(dialog, "FeedsKissServer")->isChecked());
  EXPECT_TRUE(Child<QGroupBox>(dialog, "InfluxBox")->isChecked());
  EXPECT_EQ(Child<QLineEdit>(dialog, "InfluxUrl")->text(), "http://db:8086/write?db=x");

  Child<QCheckBox>(dialog, "FeedsMqttTls")->setChecked(true);  // the usual port follows
  EXPECT_EQ(Child<QSpinBox>(dialog, "FeedsMqttPort")->value(), kMqttTlsPort);
  Child<QGroupBox>(dialog, "FeedsKissServer")->setChecked(true);
  Child<QLineEdit>(dialog, "FeedsKissAddress")->setText("localhost:99999");
  ClickOk(dialog);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_THAT(Child<QLabel>(dialog, "FeedsProblem")->text().toStdString(), HasSubstr("port"));
  EXPECT_EQ(saved.count(), 0);

  // An address no InfluxDB writes to is told under it while the feed is on.
  auto* influx_problem = Child<QLabel>(dialog, "InfluxProblem");
  EXPECT_TRUE(influx_problem->isHidden());
  Child<QLineEdit>(dialog, "InfluxUrl")->setText("http://h/query");
  EXPECT_THAT(influx_problem->text().toStdString(), HasSubstr("not an InfluxDB write address"));
  EXPECT_FALSE(influx_problem->isHidden());
  Child<QGroupBox>(dialog, "InfluxBox")->setChecked(false);
  EXPECT_TRUE(influx_problem->isHidden());
  Child<QGroupBox>(dialog, "InfluxBox")->setChecked(true);

  Child<QLineEdit>(dialog, "FeedsKissAddress")->setText("[::1]:8102");
  Child<QLineEdit>(dialog, "InfluxUrl")->setText("http://db:8086/api/v2/write?org=o&bucket=b");
  Child<QLineEdit>(dialog, "InfluxToken")->setText("t0k");
  ClickOk(dialog);
  ASSERT_EQ(saved.count(), 1);
  FeedSettings want = settings;
  want.mqtt.tls = true;
  want.mqtt.port = kMqttTlsPort;
  want.kiss_server = {true, "[::1]:8102"};
  want.influx = {true, "http://db:8086/api/v2/write?org=o&bucket=b", "lab", "pw", "t0k"};
  EXPECT_EQ(saved.at(0).at(0).value<FeedSettings>(), want);
  std::vector<std::string> problems;
  EXPECT_EQ(ReadFeedSettings(path, problems), want);
}

// A window's live frames reach the programs connected to the KISS server, and
// the sharing line tells the clients.
TEST(DesktopFeedsTest, TheLiveFramesAreServedAndTheStateShown) {
  testing::TempDir dir("desktop-feeds");
  const std::uint16_t port = testing::KissServer::FreePort();
  FeedSettings settings;
  settings.kiss_server = {true, std::to_string(port)};
  ASSERT_EQ(WriteFeedSettings(dir.Path("zevrinkiss-feeds.ini"), settings), std::nullopt);
  testing::FixedClock clock;
  DesktopProgram program(clock);
  MainWindow window(program);
  FrameRecorder recorder(program.station.analysis, program.decoder, program.fields, clock);
  window.pipeline().path().SetFrameHandler(&recorder);
  DesktopFeeds feeds(dir.Path("zevrinkiss.ini"));
  feeds.Attach(recorder, "Lab");
  feeds.SetWindow(&window);
  ASSERT_NE(feeds.kiss_server(), nullptr);
  window.SetShareStatus("Sharing off: not turned on", "");

  const int client = testing::ConnectLoopback(port);
  ASSERT_GE(client, 0);
  EXPECT_TRUE(testing::WaitFor([&] {
    return window.share_status()->text() == "Sharing off: not turned on  |  KISS 1 client(s)";
  })) << window.share_status()->text().toStdString();

  const sample::Bytes pass = sample::MakePass({.frames = 20});
  window.Receive(pass);
  const std::string want = testing::Concat(testing::LoggedFrames(pass));
  std::string got;
  EXPECT_TRUE(testing::WaitFor([&] { return testing::ReadAvailable(client, got) >= want.size(); }));
  EXPECT_EQ(got, want);
  ::close(client);
}

}  // namespace
}  // namespace zevrin
