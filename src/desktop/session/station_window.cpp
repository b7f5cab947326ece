#include "session/station_window.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <utility>

#include "adapters/qt_serial_port.h"
#include "adapters/qt_tcp_link.h"
#include "adapters/time_client.h"
#include "config/places.h"
#include "dialogs/setup_dialog.h"
#include "outputs/archive/archive_writer.h"
#include "widgets/qt_text.h"
#include "windows/about_window.h"

namespace zevrin {

namespace {

constexpr int kTickMs = 1000;

}  // namespace

// One main window with its links (serial port and TCP), station, clock client and
// tick. Members are destroyed in reverse order: the station detaches its logs from
// the window's receive path before the window goes.
struct StationWindow::Session {
  Session(StationWindow& owner, DesktopProgram& program, ClockSetter& setter,
          const StationWindowConfig& config)
      : window(std::make_unique<MainWindow>(program)),
        port(PortDirectories(config.paths.settings_file, config.port_directory)),
        client(owner, setter, config.time_port),
        recorder(program.station.analysis, program.decoder, program.fields, program.clock),
        station(program.station, window->pipeline().path(), port, owner, owner, program.clock,
                config.paths) {
    station.SetRecorder(&recorder);
    station.SetTcpLink(&tcp);
  }

  std::unique_ptr<MainWindow> window;
  QtSerialPort port;
  QtTcpLink tcp;
  TimeClient client;
  FrameRecorder recorder;  // fills the archive; outlives the station that uses it
  Station station;
  QTimer tick;
};

StationWindow::StationWindow(DesktopProgram& program, ClockSetter& setter,
                             StationWindowConfig config, QObject* parent)
    : QObject(parent),
      program_(program),
      setter_(setter),
      config_(std::move(config)),
      sharing_(std::make_unique<DesktopSharing>(config_.paths.settings_file)),
      feeds_(std::make_unique<DesktopFeeds>(config_.paths.settings_file)),
      alarms_(std::make_unique<DesktopAlarms>(
          config_.alarm_rules_file, program.clock,
          std::make_unique<DesktopNotifier>(QCoreApplication::applicationName()))),
      history_windows_(program.clock, [&program] { return ToUtcMillis(program.clock.Now()); }()) {
  log_notice_refresh_.setSingleShot(true);
  log_notice_refresh_.setInterval(kLogNoticeRefreshMs);
  connect(&log_notice_refresh_, &QTimer::timeout, this, &StationWindow::RefreshLogNotices);
  connect(alarms_.get(), &DesktopAlarms::Notice, this,
          [this](const QString& text) { SetStatusText(text.toStdString()); });
  connect(feeds_.get(), &DesktopFeeds::Notice, this,
          [this](const QString& text) { SetStatusText(text.toStdString()); });
}

StationWindow::~StationWindow() {
  alarms_->Stop();  // before the recorder and the archive it uses go
  feeds_->Detach();
  session_.reset();
  delete rules_notice_.data();
  for (auto& [path, entry] : log_notices_) delete entry.box.data();
}

MainWindow* StationWindow::window() const { return session_ ? session_->window.get() : nullptr; }
QtSerialPort* StationWindow::port() const { return session_ ? &session_->port : nullptr; }
QtTcpLink* StationWindow::tcp_link() const { return session_ ? &session_->tcp : nullptr; }

void StationWindow::BuildSession() {
  session_ = std::make_unique<Session>(*this, program_, setter_, config_);
  Session* s = session_.get();
  MainWindow* w = s->window.get();
  Station* station = &s->station;
  w->SetLogFolder(QDir(QString::fromStdString(config_.paths.log_directory)).absolutePath());

  // The station commits a notification's frames to the archive at its end, and the
  // sharer then tells the sender of the frames queued with them.
  const auto on_comm = [station](int code) { station->PortEvent(static_cast<std::int16_t>(code)); };
  connect(&s->port, &QtSerialPort::CommEvent, w, on_comm);
  connect(&s->port, &QtSerialPort::PortLost, w,
          [station](const QString& reason) { station->PortLost(reason.toStdString()); });
  connect(&s->tcp, &QtTcpLink::CommEvent, w, on_comm);
  connect(&s->tcp, &QtTcpLink::Connected, w, [station] { station->TcpConnected(); });
  connect(&s->tcp, &QtTcpLink::Disconnected, w,
          [station](const QString& message) { station->TcpDisconnected(message.toStdString()); });

  connect(w, &MainWindow::Cleared, w, [station] { station->Clear(); });
  // The window has moved its own mark already; the station's option decides it.
  connect(w, &MainWindow::HexdumpToggled, w, [station, w](bool checked) {
    station->SetHexdump(checked);
    w->SetHexdumpChecked(station->hexdump());
  });
  connect(w, &MainWindow::TncButtonClicked, w, [station] { station->SendKissModeCommand(); });
  connect(w, &MainWindow::TerminalKeyPressed, w,
          [station](int code) { station->TerminalKey(code); });
  connect(w, &MainWindow::SetupRequested, this, [this] { OpenSetupDialog(); });
  connect(w, &MainWindow::ShareRequested, this, [this, w] { sharing_->OpenDialog(w); });
  connect(w, &MainWindow::FeedsRequested, this, [this, w] { feeds_->OpenDialog(w); });
  s->station.AddArchiveExtension(&sharing_->sharer());
  s->station.AddArchiveExtension(&feeds_->influx().feed());
  connect(w, &MainWindow::ExitRequested, this, &StationWindow::End);
  connect(w, &MainWindow::Closing, this, &StationWindow::EndWhenLastWindowCloses);
  connect(w, &MainWindow::HistoryRequested, this,
          [this](int field) { history_windows_.Open(field); });
  connect(w, &MainWindow::AlarmsRequested, this, [this] { alarms_->OpenWindow(); });

  s->tick.setInterval(kTickMs);
  connect(&s->tick, &QTimer::timeout, w, [this, station] {
    station->Tick();
    alarms_->Tick(station->LinkOpen());
  });
}

void StationWindow::StartAlarms() {
  Session& s = *session_;
  std::string path = s.station.archive().path();
  if (path.empty()) {
    path = ArchiveFileName(config_.paths.log_directory, program_.station.settings.station_label);
  }
  const std::vector<std::string> errors = alarms_->Start(
      s.recorder, s.station.archive(), path, program_.station.settings.station_label, *s.window);
  if (errors.empty()) return;
  // The status bar is emptied by the next byte: the notice keeps every problem.
  SetStatusText(errors.front());
  QString text = QStringLiteral("These alarm rules were left out; the others apply:\n");
  for (const std::string& error : errors) text += QLatin1Char('\n') + FromUtf8(error);
  delete rules_notice_.data();
  rules_notice_ =
      new QMessageBox(QMessageBox::Warning, QStringLiteral("Alarm rules"), text, QMessageBox::Ok);
  rules_notice_->setObjectName(QStringLiteral("AlarmRulesNotice"));
  rules_notice_->setTextFormat(Qt::PlainText);
  rules_notice_->setAttribute(Qt::WA_DeleteOnClose);
  rules_notice_->setModal(false);
  rules_notice_->show();
}

void StationWindow::FollowArchive() {
  // The file the station writes, wherever start-up put it.
  std::string path = session_->station.archive().path();
  if (path.empty()) {
    path = ArchiveFileName(config_.paths.log_directory, program_.station.settings.station_label);
  }
  if (!archive_history_ || archive_history_->path() != path) {
    auto source = std::make_unique<ArchiveHistorySource>(path);
    history_windows_.SetSource(source.get());  // the windows move on before the old one goes
    archive_history_ = std::move(source);
  }
  std::vector<int> fields;
  for (const HistoryValueInfo& value : archive_history_->Values()) fields.push_back(value.field);
  session_->window->SetHistoryFields(fields);
}

void StationWindow::Start() {
  if (session_ || ended_) return;
  BuildSession();
  session_->window->show();
  LoadStation();
  FollowArchive();
  session_->tick.start();
}

void StationWindow::Restart() {
  if (!session_ || ended_ || shut_down_) return;
  session_->tick.stop();
  alarms_->Stop();
  feeds_->Detach();
  session_->station.Stop();
  const QRect geometry = session_->window->geometry();
  const QString status = session_->window->StatusText();
  session_.reset();

  BuildSession();
  session_->window->setGeometry(geometry);  // the new window takes the old one's place
  // The message stays until the program writes the status bar again.
  session_->window->SetStatusText(status.toStdString());
  session_->window->show();
  LoadStation();
  FollowArchive();
  session_->tick.start();
  Q_EMIT Restarted();
}

void StationWindow::LoadStation() {
  Session& s = *session_;
  s.station.Start();
  // A path that could not be opened yet is tried again by the sender at the next
  // frame.
  if (!s.station.archive().path().empty()) {
    sharing_->ArchiveOpened(s.station.archive().path());
    feeds_->influx().ArchiveOpened(s.station.archive().path());
  }
  sharing_->SetWindow(s.window.get());
  feeds_->Attach(s.recorder, program_.station.settings.station_label);
  feeds_->SetWindow(s.window.get());
  StartAlarms();
}

void StationWindow::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  if (session_) {
    session_->tick.stop();
    alarms_->Stop();
    feeds_->Detach();
    session_->station.Stop();
    // Hidden rather than closed: this may run inside the window's own close event.
    session_->window->hide();
  }
}

void StationWindow::End() {
  if (ended_) return;
  Shutdown();
  ended_ = true;
  if (setup_dialog_) setup_dialog_->close();
  program_.status_windows.CloseAll();
  history_windows_.CloseAll();
  alarms_->CloseWindow();
  if (rules_notice_) rules_notice_->close();
  if (AboutWindow* about = CurrentAboutWindow()) about->close();
  for (auto& [path, entry] : log_notices_) {
    if (entry.box) entry.box->close();
  }
  Q_EMIT Ended();
}

void StationWindow::EndWhenLastWindowCloses() {
  if (ended_) return;
  Shutdown();
  // Whether the program's last window has gone is checked now and then a few times a
  // second, so the windows need no hook of their own.
  const auto check = [this] {
    if (ended_) return;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->isVisible()) return;
    }
    ended_ = true;
    last_window_check_.stop();
    Q_EMIT Ended();
  };
  if (!last_window_check_.isActive()) {
    last_window_check_.setInterval(kLastWindowCheckMs);
    connect(&last_window_check_, &QTimer::timeout, this, check);
    last_window_check_.start();
  }
  check();
}

void StationWindow::SetStatusText(std::string_view text) {
  if (session_) session_->window->SetStatusText(text);
}

void StationWindow::SetReceiveCounterText(std::string_view text) {
  if (session_) session_->window->SetReceiveCounterText(text);
}

void StationWindow::LogNoticeChanged(const LogNotice& notice) {
  LogNoticeBox& entry = log_notices_[notice.path];
  const QString text = FromUtf8(LogNoticeText(notice));
  const bool state_changed = entry.complete_now != notice.complete_now;
  entry.complete_now = notice.complete_now;
  if (entry.box) {
    entry.pending = text;
    if (!log_notice_refresh_.isActive()) log_notice_refresh_.start();
    return;
  }
  // A box the user has closed comes back only when the log's state changes, not
  // for every further frame it misses.
  if (!state_changed || ended_) return;
  entry.pending.clear();
  entry.box = new QMessageBox(notice.complete_now ? QMessageBox::Information : QMessageBox::Warning,
                              QStringLiteral("Log file"), QString(), QMessageBox::Ok);
  entry.box->setObjectName(QStringLiteral("LogNotice"));
  entry.box->setTextFormat(Qt::PlainText);
  entry.box->setText(text);
  entry.box->setAttribute(Qt::WA_DeleteOnClose);
  entry.box->setModal(false);
  entry.box->show();
}

void StationWindow::RefreshLogNotices() {
  for (auto& [path, entry] : log_notices_) {
    if (!entry.box || entry.pending.isEmpty()) continue;
    entry.box->setIcon(entry.complete_now ? QMessageBox::Information : QMessageBox::Warning);
    entry.box->setText(entry.pending);
    entry.pending.clear();
  }
}

void StationWindow::SetWindowTitle(std::string_view text) {
  if (session_) session_->window->SetTitle(FromUtf8(text));
}

void StationWindow::SetPortLabel(std::string_view text) {
  if (session_) session_->window->SetPortLabel(FromUtf8(text));
}

void StationWindow::SetLastPacketText(std::string_view text) {
  if (session_) session_->window->SetLastPacketLabel(FromUtf8(text));
}

void StationWindow::SetClockText(std::string_view text) {
  if (session_) session_->window->SetClockLabel(FromUtf8(text));
}

void StationWindow::ShowPortOpen(bool open) {
  if (session_) session_->window->ShowPortOpen(open);
}

void StationWindow::SetPortToolTip(std::string_view text) {
  if (session_) session_->window->SetPortToolTip(FromUtf8(text));
}

void StationWindow::SetTerminalText(std::string_view text) {
  if (session_) session_->window->SetTerminalText(FromUtf8(text));
}

void StationWindow::ClearMonitor() {
  if (session_) session_->window->ClearMonitor();
}

void StationWindow::OpenSetupDialog() {
  if (!session_ || ended_ || shut_down_) return;
  if (setup_dialog_) {
    setup_dialog_->raise();
    setup_dialog_->activateWindow();
    return;
  }
  setup_dialog_ = new SetupDialog(session_->station.CurrentSetup(), session_->window.get());
  // Queued: the restart destroys the window that owns the dialog.
  connect(setup_dialog_, &SetupDialog::RestartRequested, this, &StationWindow::Restart,
          Qt::QueuedConnection);
  setup_dialog_->show();
}

void StationWindow::EnableTncControls(bool enabled, std::string_view why) {
  if (session_) session_->window->SetTncControlsEnabled(enabled, FromUtf8(why));
}

void StationWindow::BeginClockSync(std::string_view host) {
  if (session_) session_->client.Begin(host);
}

}  // namespace zevrin
