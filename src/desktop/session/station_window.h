#pragma once
// The desktop program's main window with everything that runs beside it: the
// serial port, the station logic, the clock synchronisation and the 1000 ms tick.
// A confirmed port setup replaces the whole set with a new one; "&Exit" or closing
// the window ends the program.

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/clock_setter.h"
#include "clock/time_sync.h"
#include "dialogs/setup_dialog.h"
#include "history/history_window.h"
#include "session/desktop_alarms.h"
#include "session/desktop_influx.h"
#include "session/desktop_sharing.h"
#include "station/station.h"
#include "views/archive_history_source.h"
#include "windows/main_window.h"

namespace zevrin {

class QtSerialPort;
class QtTcpLink;

/// Where one program run finds its files, its port devices and its time server.
struct StationWindowConfig {
  /// The settings file and the log directory.
  StationPaths paths;
  /// Where "comN" entries are looked up after the settings file's folder: the
  /// working directory.
  std::string port_directory = ".";
  /// The time server's TCP port.
  std::uint16_t time_port = kTimePort;
  /// The alarm rules file found at start-up; empty: the default rules.
  std::string alarm_rules_file;
};

class StationWindow final : public QObject,
                            private StationView,
                            private ClockSyncStarter,
                            private StatusSink {
  Q_OBJECT

 public:
  /// `program` and `setter` must outlive this object. Nothing is shown before
  /// Start().
  StationWindow(DesktopProgram& program, ClockSetter& setter, StationWindowConfig config,
                QObject* parent = nullptr);
  ~StationWindow() override;
  StationWindow(const StationWindow&) = delete;
  StationWindow& operator=(const StationWindow&) = delete;

  /// Builds and shows the main window, runs start-up and starts the tick.
  void Start();
  /// Shutdown of the running window, then start-up of a new one with the settings
  /// file as it is now. Status windows and the About window stay open.
  void Restart();
  /// "&Exit": runs shutdown once, hides the main window, closes every other window
  /// of the program and reports Ended. Later calls do nothing.
  void End();
  /// The main window closed by other means: shutdown runs once, and Ended is
  /// reported when the last other window of the program (a status window, the
  /// About window, the setup dialog) has closed too.
  void EndWhenLastWindowCloses();

  /// The parts of the running set; null before Start().
  MainWindow* window() const;
  QtSerialPort* port() const;
  DesktopSharing& sharing() { return *sharing_; }
  DesktopInflux& influx() { return *influx_; }
  QtTcpLink* tcp_link() const;
  /// The open port setup dialog, or null.
  SetupDialog* setup_dialog() const { return setup_dialog_; }
  bool ended() const { return ended_; }

  /// The history windows, reading the archive of the station label in force.
  HistoryWindows& history_windows() { return history_windows_; }
  /// The alarms on the live frames, their indicator and their window.
  DesktopAlarms& alarms() { return *alarms_; }

 Q_SIGNALS:
  /// The program should end now: shutdown has run.
  void Ended();
  /// A new main window has been built and started.
  void Restarted();

 private:
  struct Session;

  void BuildSession();
  /// Start-up of the new session's station, then sharing from its archive.
  void LoadStation();
  /// Puts the latest texts into the open log notices.
  void RefreshLogNotices();
  /// Evaluates the alarms on the new session's frames; tells the rules' problems.
  void StartAlarms();

  // StationView (and StatusSink for the clock synchronisation).
  void SetStatusText(std::string_view text) override;
  void SetReceiveCounterText(std::string_view text) override;
  void LogNoticeChanged(const LogNotice& notice) override;
  void SetWindowTitle(std::string_view text) override;
  void SetPortLabel(std::string_view text) override;
  void SetLastPacketText(std::string_view text) override;
  void SetClockText(std::string_view text) override;
  void ShowPortOpen(bool open) override;
  void SetPortToolTip(std::string_view text) override;
  void SetTerminalText(std::string_view text) override;
  void ClearMonitor() override;
  void OpenSetupDialog() override;
  void EnableTncControls(bool enabled, std::string_view why) override;
  // ClockSyncStarter.
  void BeginClockSync(std::string_view host) override;

  /// Shutdown of the running window, once.
  void Shutdown();
  /// Points the history windows at the archive the station writes and
  /// tells the main window which fields offer their history.
  void FollowArchive();

  DesktopProgram& program_;
  ClockSetter& setter_;
  StationWindowConfig config_;
  std::unique_ptr<Session> session_;
  // Sharing outlives the windows: its sender keeps working across restarts.
  std::unique_ptr<DesktopSharing> sharing_;
  std::unique_ptr<DesktopInflux> influx_;
  // The alarms too: their list and window stay across restarts.
  std::unique_ptr<DesktopAlarms> alarms_;
  QPointer<QMessageBox> rules_notice_;
  QPointer<SetupDialog> setup_dialog_;
  // One notice per log file, by path; it outlives a restart of the main window.
  struct LogNoticeBox {
    QPointer<QMessageBox> box;
    bool complete_now = true;
    QString pending;  // a text not yet shown
  };
  std::map<std::string, LogNoticeBox> log_notices_;
  // A log that misses frame after frame changes its notice for each; the open box
  // takes the latest text a few times a second.
  QTimer log_notice_refresh_;
  static constexpr int kLogNoticeRefreshMs = 250;
  // Declared before the windows that read it, so it goes after them.
  std::unique_ptr<ArchiveHistorySource> archive_history_;
  HistoryWindows history_windows_;
  // After the main window closed: looks for the last other window to close.
  QTimer last_window_check_;
  static constexpr int kLastWindowCheckMs = 200;
  bool shut_down_ = false;
  bool ended_ = false;
};

}  // namespace zevrin
