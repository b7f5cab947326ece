#pragma once
// The alarms of the desktop program: the rules found at start-up evaluated on the
// live frames beside the archive, every change kept in the archive, shown by the
// main window's indicator and the Alarms window, and told as desktop notifications.

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "adapters/desktop_notifier.h"
#include "alarms/alarm_archive.h"
#include "alarms/alarm_records.h"
#include "alarms/alarm_webhook.h"
#include "base/time_of_day.h"
#include "outputs/frame_recorder.h"
#include "views/alarm_board.h"
#include "windows/alarms_window.h"
#include "windows/main_window.h"

namespace zevrin {

class DesktopAlarms final : public QObject, private AlarmListener {
  Q_OBJECT

 public:
  /// `rules_file` empty: the default rules apply. `clock` must outlive this.
  DesktopAlarms(std::string rules_file, const Clock& clock,
                std::unique_ptr<DesktopNotifier> notifier, QObject* parent = nullptr);
  ~DesktopAlarms() override;

  /// Reads the rules and evaluates the frames `recorder` hands on from now (after
  /// its other sinks), keeping the changes in `archive`, showing them on `window`
  /// and posting them to the rules' webhooks, naming `station`. Returns what is
  /// wrong with the rules ("FILE:LINE: what"); the good rules apply. Everything
  /// given must outlive Stop().
  std::vector<std::string> Start(FrameRecorder& recorder, ArchiveThread& archive,
                                 const std::string& archive_path, const std::string& station,
                                 MainWindow& window);
  /// Stops evaluating; the alarms raised stay on the list as they were.
  void Stop();
  /// The once-a-second tick: silences run out, the open Alarms window reads the
  /// archive again.
  void Tick(bool link_up);
  /// A person has seen the raised alarm of rule `rule`.
  void Acknowledge(int rule);
  /// Opens the Alarms window, or brings it to the front.
  void OpenWindow();
  void CloseWindow();

  AlarmsWindow* window() const { return window_; }
  const AlarmBoard& board() const { return board_; }
  AlarmEvaluator* evaluator() const { return run_ ? &run_->evaluator : nullptr; }

 Q_SIGNALS:
  /// A text for the status bar: the notification service is missing.
  void Notice(const QString& text);

 private:
  // What lives while a station runs: the evaluator and its way into the archive.
  struct Run {
    Run(AlarmRules rules, AlarmListener& listener, ArchiveThread& archive,
        const std::string& archive_path)
        : kept(archive), evaluator(std::move(rules), listener), reader(archive_path) {}
    AlarmArchive kept;
    AlarmEvaluator evaluator;
    AlarmRecordReader reader;
    std::unique_ptr<AlarmWebhook> webhook;  // null without addresses
  };

  void AlarmChanged(const AlarmEvent& event) override;
  void ShowChanges();
  std::int64_t NowMs() const { return ToUtcMillis(clock_.Now()); }

  std::string rules_file_;
  const Clock& clock_;
  std::unique_ptr<DesktopNotifier> notifier_;
  AlarmBoard board_;
  std::unique_ptr<Run> run_;
  FrameRecorder* recorder_ = nullptr;
  QPointer<MainWindow> main_window_;
  QPointer<AlarmsWindow> window_;
};

}  // namespace zevrin
