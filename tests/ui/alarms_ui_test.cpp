// The desktop alarms against a notification service of the test's own, on a
// private session bus: what the service receives, the indicator, the Alarms window
// and the acknowledgement kept in the archive.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <fstream>

#include "sample/sample_pass.h"
#include "session/desktop_alarms.h"
#include "support/http_recorder.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using ::testing::HasSubstr;
using testing::WaitFor;

// A session bus of the test's own: no service on it starts by itself.
class PrivateBus {
 public:
  PrivateBus() : dir_("alarm-bus") {
    const auto config = dir_ / "bus.conf";
    std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=" << dir_.string()
                          << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                             "</busconfig>\n";
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + QString::fromStdString(config.string()),
                   QStringLiteral("--print-address"), QStringLiteral("--nofork")});
    WaitFor([this] { return daemon_.canReadLine(); }, 10000);
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }
  ~PrivateBus() {
    for (const QString& name : names_) QDBusConnection::disconnectFromBus(name);
    daemon_.kill();
    daemon_.waitForFinished();
  }
  QDBusConnection Connect(const QString& name) {
    names_ << name;
    return QDBusConnection::connectToBus(address_, name);
  }

 private:
  testing::TempDir dir_;
  QProcess daemon_;
  QString address_;
  QStringList names_;
};

// The service's side of Notify: every call as it came.
class FakeNotifications final : public QDBusVirtualObject {
 public:
  struct Call {
    QString app, summary, body;
    int urgency = -1;
    bool operator==(const Call&) const = default;
  };
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
    if (message.member() != QLatin1String("Notify")) return false;
    const QVariantList args = message.arguments();
    QVariantMap hints;
    args.value(6).value<QDBusArgument>() >> hints;
    const QVariant urgency = hints.value(QStringLiteral("urgency"));
    calls.push_back({args.value(0).toString(), args.value(3).toString(), args.value(4).toString(),
                     urgency.typeId() == QMetaType::UChar ? urgency.toInt() : -1});
    bus.send(message.createReply(QVariant::fromValue(static_cast<uint>(calls.size()))));
    return true;
  }
  std::vector<Call> calls;
};

bool Serve(QDBusConnection& bus, FakeNotifications& fake) {
  return bus.registerVirtualObject(QLatin1String(kNotificationPath), &fake) &&
         bus.registerService(QLatin1String(kNotificationService));
}

// Without the service the notifier says so once; once the service is there it
// gets the summary, body and urgency byte of each notification.
TEST(DesktopNotifierTest, ToldOnceWithoutServiceThenDeliversEachNotification) {
  PrivateBus bus;
  DesktopNotifier notifier(QStringLiteral("zevrinkiss"), bus.Connect(QStringLiteral("client")));
  int told = 0;
  QObject::connect(&notifier, &DesktopNotifier::Unavailable, [&told] { ++told; });
  notifier.Notify({"Warning: a", "b", 1});
  notifier.Notify({"Warning: c", "d", 1});
  ASSERT_TRUE(WaitFor([&] { return told == 1 && !notifier.available(); }));
  QTest::qWait(50);
  EXPECT_EQ(told, 1);

  FakeNotifications fake;
  QDBusConnection service = bus.Connect(QStringLiteral("service"));
  ASSERT_TRUE(Serve(service, fake));
  notifier.Notify({"Critical: Battery below emergency", "battery_volts = 3.1", 2});
  notifier.Notify({"Watch: x", "", 0});
  ASSERT_TRUE(WaitFor([&] { return fake.calls.size() == 2; }));
  using Call = FakeNotifications::Call;
  EXPECT_EQ(fake.calls, (std::vector<Call>{{"zevrinkiss", "Critical: Battery below emergency",
                                            "battery_volts = 3.1", 2},
                                           {"zevrinkiss", "Watch: x", "", 0}}));
  EXPECT_TRUE(WaitFor([&] { return notifier.available(); }));
  EXPECT_EQ(told, 1);
}

// A pass whose battery dips raises the rule on the live frames: the service is
// told, the indicator counts it, and an acknowledgement from the Alarms window
// empties the indicator and is kept in the archive. A bad rule is told with its
// file and line, and the good ones apply. The rules' webhook gets the raise.
TEST(DesktopAlarmsTest, RaisesOnLiveFramesAndAcknowledgesFromTheWindow) {
  testing::TempDir dir("desktop-alarms");
  testing::HttpRecorder hook;
  const std::string rules = dir.Path("zevrinkiss-alarms.ini");
  std::ofstream(rules) << "battery_volts < 3.3 clear > 9 : critical \"Battery dips\"\n"
                       << "battery_volts <\nnotify " << hook.url("/hook") << "\n";
  PrivateBus bus;
  FakeNotifications fake;
  QDBusConnection service = bus.Connect(QStringLiteral("service"));
  ASSERT_TRUE(Serve(service, fake));

  SystemClock clock;
  DesktopProgram program(clock);
  MainWindow window(program);
  FrameRecorder recorder(program.station.analysis, program.decoder, program.fields, clock);
  window.pipeline().path().SetFrameHandler(&recorder);
  const std::string archive_path = dir.Path("archive.sqlite");
  ArchiveThread archive(nullptr, {});
  ASSERT_TRUE(archive.Open(archive_path));
  DesktopAlarms alarms(rules, clock,
                       std::make_unique<DesktopNotifier>(QStringLiteral("zevrinkiss"),
                                                         bus.Connect(QStringLiteral("client"))));
  QObject::connect(&window, &MainWindow::AlarmsRequested, &alarms, &DesktopAlarms::OpenWindow);
  const auto errors = alarms.Start(recorder, archive, archive_path, "Lab", window);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind(rules + ":2: ", 0), 0u) << errors[0];
  EXPECT_TRUE(window.alarm_indicator()->isHidden());

  window.Receive(sample::MakePass({.frames = 300, .battery_dip = true}));
  EXPECT_EQ(window.alarm_indicator()->text(), "1 alarm");
  EXPECT_FALSE(window.alarm_indicator()->isHidden());
  ASSERT_TRUE(WaitFor([&] { return !fake.calls.empty(); }));
  EXPECT_EQ(fake.calls[0].summary, "Critical: Battery dips");
  EXPECT_EQ(fake.calls[0].urgency, 2);
  ASSERT_TRUE(WaitFor([&] { return hook.count() > 0; }));
  EXPECT_THAT(hook.requests()[0].body, HasSubstr(R"("station":"Lab","rule":"battery_volts < 3.3)"));

  window.alarm_indicator()->click();
  AlarmsWindow* list = alarms.window();
  ASSERT_NE(list, nullptr);
  ASSERT_GE(list->table()->rowCount(), 1);
  EXPECT_EQ(list->table()->item(0, 0)->text(), "Battery dips");
  EXPECT_FALSE(list->acknowledge_button()->isEnabled());  // nothing selected yet
  list->table()->selectRow(0);
  ASSERT_TRUE(list->acknowledge_button()->isEnabled());
  list->acknowledge_button()->click();
  EXPECT_TRUE(window.alarm_indicator()->isHidden());
  EXPECT_FALSE(list->acknowledge_button()->isEnabled());
  alarms.Stop();
  archive.Close();
  AlarmRecordReader reader(archive_path);
  const std::vector<AlarmRecord> kept = reader.Read(kBeginningOfTime, kEndOfTime, 10);
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.back().message, "Battery dips");
  EXPECT_TRUE(kept.back().acknowledged_ms.has_value());
  EXPECT_TRUE(kept.back().cleared_ms.has_value()) << "ends when the rules stop";
}

}  // namespace
}  // namespace zevrin
