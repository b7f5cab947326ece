#include "session/desktop_alarms.h"

#include <utility>

#include "alarms/alarm_rules.h"
#include "widgets/qt_text.h"

namespace zevrin {

namespace {

// The rules of `file`, or the default rules without one; a file that cannot be
// read leaves the default rules in force, and says so.
AlarmRules LoadRules(const std::string& file) {
  if (file.empty()) return DefaultAlarmRules();
  std::optional<AlarmRules> rules = ReadAlarmRules(file);
  if (rules) return std::move(*rules);
  AlarmRules defaults = DefaultAlarmRules();
  defaults.errors.insert(defaults.errors.begin(),
                         file + ": cannot be read; the default rules apply");
  return defaults;
}

}  // namespace

DesktopAlarms::DesktopAlarms(std::string rules_file, const Clock& clock,
                             std::unique_ptr<DesktopNotifier> notifier, QObject* parent)
    : QObject(parent),
      rules_file_(std::move(rules_file)),
      clock_(clock),
      notifier_(std::move(notifier)) {
  connect(notifier_.get(), &DesktopNotifier::Unavailable, this, [this](const QString& why) {
    Q_EMIT Notice(QStringLiteral("Alarms are not shown as desktop notifications: ") + why);
  });
}

DesktopAlarms::~DesktopAlarms() {
  Stop();
  delete window_.data();
}

std::vector<std::string> DesktopAlarms::Start(FrameRecorder& recorder, ArchiveThread& archive,
                                              const std::string& archive_path,
                                              const std::string& station, MainWindow& window) {
  Stop();
  AlarmRules rules = LoadRules(rules_file_);
  std::vector<std::string> errors = std::move(rules.errors);
  std::vector<std::string> webhooks = std::move(rules.webhooks);
  board_.Restart();
  AlarmListener& listener = *this;
  run_ = std::make_unique<Run>(std::move(rules), listener, archive, archive_path);
  if (!webhooks.empty()) {
    // Told on the webhook's thread: shown on the user-interface thread.
    QPointer<DesktopAlarms> self(this);
    run_->webhook = std::make_unique<AlarmWebhook>(std::move(webhooks), station,
                                                   [self](const std::string& problem) {
                                                     QMetaObject::invokeMethod(
                                                         self.data(),
                                                         [self, problem] {
                                                           if (self)
                                                             Q_EMIT self->Notice(FromUtf8(problem));
                                                         },
                                                         Qt::QueuedConnection);
                                                   });
  }
  recorder_ = &recorder;
  recorder.AddSink(&run_->evaluator);
  main_window_ = &window;
  ShowChanges();
  return errors;
}

void DesktopAlarms::Stop() {
  // The alarms raised end with their evaluation: none stays open in the archive.
  if (run_) run_->kept.EndWatching(NowMs());
  if (recorder_ != nullptr && run_) recorder_->RemoveSink(&run_->evaluator);
  recorder_ = nullptr;
  run_.reset();
}

void DesktopAlarms::Tick(bool link_up) {
  if (!run_) return;
  run_->evaluator.Tick(NowMs(), link_up);
  if (window_ && window_->isVisible()) ShowChanges();
}

void DesktopAlarms::Acknowledge(int rule) {
  if (!run_ || rule < 0 || static_cast<std::size_t>(rule) >= run_->evaluator.rules().rules.size()) {
    return;
  }
  run_->evaluator.Acknowledge(static_cast<std::size_t>(rule), NowMs());
}

void DesktopAlarms::OpenWindow() {
  if (!window_) {
    window_ = new AlarmsWindow;
    window_->setAttribute(Qt::WA_DeleteOnClose);
    connect(window_, &AlarmsWindow::AcknowledgeRequested, this, &DesktopAlarms::Acknowledge);
  }
  window_->show();
  window_->raise();
  window_->activateWindow();
  ShowChanges();
}

void DesktopAlarms::CloseWindow() {
  if (window_) window_->close();
}

void DesktopAlarms::AlarmChanged(const AlarmEvent& event) {
  if (run_) run_->kept.AlarmChanged(event);
  if (run_ && run_->webhook) run_->webhook->AlarmChanged(event);
  board_.AlarmChanged(event);
  if (const std::optional<AlarmNotification> n = AlarmNotificationOf(event)) notifier_->Notify(*n);
  ShowChanges();
}

void DesktopAlarms::ShowChanges() {
  if (main_window_) {
    const std::optional<AlarmSeverity> highest = board_.HighestUnacknowledged();
    main_window_->SetAlarmIndicator(FromUtf8(board_.IndicatorText()),
                                    FromUtf8(board_.IndicatorDetails()),
                                    AlarmSeverityColours(highest.value_or(AlarmSeverity::kWatch)));
  }
  if (!window_) return;
  if (run_) {
    board_.SetArchived(run_->reader.Read(kBeginningOfTime, kEndOfTime, kRecentAlarmsMax));
  }
  window_->ShowRows(board_.Rows());
}

}  // namespace zevrin
