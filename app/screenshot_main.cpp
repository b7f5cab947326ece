// zevrinkiss-screenshot: renders every window of the program offscreen or on a
// virtual display, so that anyone can look at them with the fonts of this machine.
//
//   zevrinkiss-screenshot --windows DIR
//
// writes into DIR: main.png (the main window after the generated sample pass),
// main-feeds.png (the same with sharing and every network feed at work),
// main-influx.png (the same with sharing off and the InfluxDB feed unreachable),
// about.png, setup.png, share.png (the sharing dialog, as it opens for a new
// station), feeds.png (the network feeds dialog with every feed on), influx.png
// and influx-problem.png (the dialog's InfluxDB group box, set up and with an
// address that is no write address), and for each status window
// status-<field>-00000000.png and status-<field>-11111111.png, showing that value
// after one tick; main-alarm.png (the main window with a critical alarm raised)
// and alarms.png (the Alarms window).

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "base/time_of_day.h"
#include "dialogs/feeds_dialog.h"
#include "dialogs/influx_box.h"
#include "dialogs/setup_dialog.h"
#include "dialogs/share_dialog.h"
#include "sample/sample_pass.h"
#include "views/alarm_board.h"
#include "views/feed_status.h"
#include "views/status_windows.h"
#include "windows/about_window.h"
#include "windows/alarms_window.h"
#include "windows/main_window.h"
#include "windows/status_window.h"

namespace {

// A clock that advances a little with every reading, so the time stamps of the
// monitor look like those of a real pass.
class PassClock final : public zevrin::Clock {
 public:
  explicit PassClock(std::int64_t start) : millis_(start * 1000) {}
  zevrin::UtcInstant Now() const override {
    millis_ += 137;
    return {millis_ / 1000, static_cast<int>(millis_ % 1000)};
  }

 private:
  mutable std::int64_t millis_;
};

constexpr int kMainWidth = 1280;
constexpr int kMainHeight = 800;
// Notifications of a few hundred bytes, like a serial port at 115,200 baud.
constexpr std::size_t kChunk = 384;

bool Save(QWidget& widget, const QDir& dir, const QString& name) {
  QApplication::processEvents();
  const QString path = dir.filePath(name);
  if (!widget.grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

// The sharing line shows `share_line` and `feed_line` when given.
bool SaveMainWindow(zevrin::DesktopProgram& program, const QDir& dir, const QString& name,
                    const zevrin::AlarmBoard* alarms = nullptr, const QString& share_line = {},
                    const QString& feed_line = {});

// A pass's alarms by the default rules: the battery below both thresholds (the
// first acknowledged), a reset that has passed.
void RaiseAlarms(zevrin::AlarmBoard& board, const zevrin::AlarmRules& rules) {
  constexpr std::int64_t kPassMs = 1245506709000;
  const auto tell = [&](zevrin::AlarmChange change, std::size_t rule, std::int64_t at_s,
                        double value) {
    zevrin::AlarmEvent event;
    event.change = change;
    event.rule_index = rule;
    event.rule = &rules.rules[rule];
    event.value = value;
    event.has_value = change != zevrin::AlarmChange::kAcknowledged;
    event.time_ms = kPassMs + at_s * 1000;
    board.AlarmChanged(event);
  };
  tell(zevrin::AlarmChange::kRaised, 2, -6000, 18);
  tell(zevrin::AlarmChange::kCleared, 2, -5990, 18);
  tell(zevrin::AlarmChange::kRaised, 0, 250, 3.28);
  tell(zevrin::AlarmChange::kAcknowledged, 0, 300, 0);
  tell(zevrin::AlarmChange::kRaised, 1, 340, 3.18);
}

bool SaveAlarmWindows(zevrin::DesktopProgram& program, const QDir& dir) {
  const zevrin::AlarmRules rules = zevrin::DefaultAlarmRules();
  zevrin::AlarmBoard board;
  RaiseAlarms(board, rules);
  if (!SaveMainWindow(program, dir, QStringLiteral("main-alarm.png"), &board)) return false;
  zevrin::AlarmsWindow alarms;
  alarms.ShowRows(board.Rows());
  alarms.show();
  return Save(alarms, dir, QStringLiteral("alarms.png"));
}

bool SaveMainWindow(zevrin::DesktopProgram& program, const QDir& dir, const QString& name,
                    const zevrin::AlarmBoard* alarms, const QString& share_line,
                    const QString& feed_line) {
  zevrin::MainWindow window(program);
  window.SetTitle(
      QStringLiteral("ZEVRIN TARVELO Housekeeping Data Decoder V. 1.7.4          [Lab]"));
  window.resize(window.minimumSizeHint().expandedTo(QSize(kMainWidth, kMainHeight)));
  window.show();
  // What start-up and the tick would show with the port open.
  window.SetPortLabel(QStringLiteral("COM1 9600,N,8,1 initialized "));
  window.ShowPortOpen(true);
  const zevrin::sample::Bytes pass = zevrin::sample::MakePass({});
  // A notification a turn of the event loop, as the port gives them.
  for (std::size_t pos = 0; pos < pass.size(); pos += kChunk) {
    window.Receive(std::span(pass).subspan(pos, std::min(kChunk, pass.size() - pos)));
    QApplication::processEvents();
  }
  window.SetClockLabel(QStringLiteral("14:21:47"));
  window.SetLastPacketLabel(QStringLiteral("1 sec since last packet [2]"));
  window.SetStatusText("clock synchronised succesfully with NTP server time.nist.gov");
  if (alarms != nullptr) {
    window.SetAlarmIndicator(QString::fromStdString(alarms->IndicatorText()),
                             QString::fromStdString(alarms->IndicatorDetails()),
                             zevrin::AlarmSeverityColours(*alarms->HighestUnacknowledged()));
  }
  if (!share_line.isEmpty()) window.SetShareStatus(share_line, {});
  if (!feed_line.isEmpty()) window.SetFeedStatus(feed_line, {});
  return Save(window, dir, name);
}

bool SaveStatusWindows(zevrin::DesktopProgram& program, const QDir& dir) {
  constexpr zevrin::StatusWindow kKinds[] = {zevrin::StatusWindow::kSystem,
                                             zevrin::StatusWindow::kResource,
                                             zevrin::StatusWindow::kGps,
                                             zevrin::StatusWindow::kMagnetometer,
                                             zevrin::StatusWindow::kSunSensorConfig,
                                             zevrin::StatusWindow::kSunSensorStatus};
  for (const zevrin::StatusWindow kind : kKinds) {
    const int field = zevrin::StatusWindowData(kind).field;
    for (const char* value : {"00000000", "11111111"}) {
      program.fields.WriteField(field, value);
      // The longer nibble suffix with all bits set.
      program.fields.WriteField(zevrin::kAdcsModeField, value[0] == '1' ? "GPS ORB" : "SENSE");
      zevrin::StatusWindowWidget* window = program.status_windows.Open(kind);
      window->Tick();
      if (!Save(*window, dir, QStringLiteral("status-%1-%2.png").arg(field).arg(value))) {
        return false;
      }
      program.status_windows.CloseAll();
    }
  }
  return true;
}

// The feeds as a club station sets them: a broker with a login, the KISS server
// on, a database of InfluxDB 1.x.
zevrin::FeedSettings ClubFeeds() {
  zevrin::FeedSettings feeds;
  feeds.mqtt = {true, "broker.example.org", zevrin::kMqttTlsPort, "station", "secret", true, ""};
  feeds.kiss_server.enabled = true;
  feeds.influx = {true, "http://db.example.org:8086/write?db=tarvelo", "station", "secret", ""};
  return feeds;
}

// The network feeds dialog with every feed on, and the InfluxDB group box alone,
// as set up and with an address that is no write address.
bool SaveFeedWindows(const QDir& dir) {
  // Written nowhere: the dialog is only shown.
  zevrin::FeedsDialog feeds_dialog(ClubFeeds(), "/nonexistent/zevrinkiss-feeds.ini", "DL1ABC");
  feeds_dialog.show();
  if (!Save(feeds_dialog, dir, QStringLiteral("feeds.png"))) return false;
  feeds_dialog.hide();
  const std::pair<zevrin::InfluxSettings, const char*> boxes[] = {
      {{true, "http://127.0.0.1:8086/write?db=tarvelo", "station", "secret", ""}, "influx.png"},
      {{true, "http://127.0.0.1:8086/query?db=tarvelo", "", "", ""}, "influx-problem.png"}};
  for (const auto& [settings, name] : boxes) {
    zevrin::InfluxBox box(settings);
    box.show();
    if (!Save(box, dir, QString::fromLatin1(name))) return false;
  }
  return true;
}

// The main window with the feeds at work beside sharing, and with the InfluxDB
// feed alone and unreachable.
bool SaveFeedLines(zevrin::DesktopProgram& program, const QDir& dir) {
  zevrin::FeedStates states;
  states.mqtt.emplace().state = zevrin::MqttStatus::State::kConnected;
  states.kiss_server.emplace().clients = 2;
  states.kiss_server->dropped = 14;
  states.influx.emplace().sent = 1200;
  if (!SaveMainWindow(program, dir, QStringLiteral("main-feeds.png"), nullptr,
                      QStringLiteral("Sharing: 212 sent, 0 waiting"),
                      QString::fromStdString(zevrin::FeedStatusLine(states))))
    return false;
  zevrin::FeedStates influx_only;
  influx_only.influx.emplace().state = zevrin::InfluxState::kUnreachable;
  influx_only.influx->queued = 1204;
  const zevrin::ShareSettings off;
  return SaveMainWindow(
      program, dir, QStringLiteral("main-influx.png"), nullptr,
      QString::fromStdString(zevrin::ShareStatusLine({zevrin::SharingOffReason(off), {}, {}})),
      QString::fromStdString(zevrin::FeedStatusLine(influx_only)));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3 || std::strcmp(argv[1], "--windows") != 0) {
    std::fprintf(stderr, "usage: %s --windows DIR\n", argv[0]);
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[2]));
  if (!dir.exists() && !QDir().mkpath(dir.path())) {
    std::fprintf(stderr, "cannot make %s\n", argv[2]);
    return 1;
  }

  PassClock clock(1245506709);  // 2009-06-20 14:05:09 UTC
  zevrin::DesktopProgram program(clock);
  if (!SaveMainWindow(program, dir, QStringLiteral("main.png"))) return 1;
  if (!SaveFeedLines(program, dir)) return 1;

  // The folder an installed program run by a user would log to.
  zevrin::AboutWindow* about =
      zevrin::OpenAboutWindow(QStringLiteral("/home/station/.local/share/zevrinkiss"));
  if (!Save(*about, dir, QStringLiteral("about.png"))) return 1;
  delete about;

  zevrin::SetupValues values;
  values.line_settings = "9600,N,8,1";
  zevrin::SetupDialog setup(values);
  setup.show();
  if (!Save(setup, dir, QStringLiteral("setup.png"))) return 1;
  setup.hide();

  // Written nowhere: the dialog is only shown.
  const zevrin::ShareSettings new_station;
  zevrin::ShareDialog share(new_station, "/nonexistent/zevrinkiss-share.ini");
  share.show();
  if (!Save(share, dir, QStringLiteral("share.png"))) return 1;
  share.hide();

  return SaveFeedWindows(dir) && SaveStatusWindows(program, dir) && SaveAlarmWindows(program, dir)
             ? 0
             : 1;
}
