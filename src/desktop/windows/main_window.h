#pragma once
// The main window: display fields, bottom row, frame monitor, terminal line,
// options, labels, status bar and menus. It shows what the receive path and the
// decoders produce and passes the user's commands on as signals.

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStringList>
#include <array>
#include <bitset>
#include <cstdint>
#include <span>

#include "base/time_of_day.h"
#include "frames/frame_analysis.h"
#include "kiss/receive_path.h"
#include "station/program.h"
#include "station/station.h"
#include "telemetry/display_fields.h"
#include "telemetry/telemetry_decoder.h"
#include "views/alarm_board.h"
#include "widgets/monitor_pane.h"
#include "windows/status_window.h"

class QGridLayout;
class QGroupBox;
class QHBoxLayout;

namespace zevrin {

/// Layout caption of the clock label until the first tick.
inline constexpr char kClockLabelStart[] = "sync...";
/// Layout caption of the port label until start-up writes it.
inline constexpr char kPortLabelStart[] = "COM port";
/// Layout caption of the last-packet label.
inline constexpr char kLastPacketLabelStart[] = "Label4";

/// The program state of the desktop program: the core's, and the status windows
/// that read its store.
struct DesktopProgram : ProgramState {
  explicit DesktopProgram(const Clock& program_clock) : ProgramState(program_clock) {}
  StatusWindows status_windows{&fields};
};

class MainWindow final : public QMainWindow,
                         public ReceiveView,
                         public MonitorSink,
                         private DisplayFieldsObserver {
  Q_OBJECT

 public:
  /// Empties the store of `program` (a new window starts with empty fields) and
  /// shows it from then on; the program's analysis options start as the window's
  /// controls do (decoded view, no hexdump). `program` must outlive the window.
  explicit MainWindow(DesktopProgram& program, QWidget* parent = nullptr);
  ~MainWindow() override;

  /// The receive path and decoders feeding this window.
  FramePipeline& pipeline() { return pipeline_; }
  /// Same as a receive notification bringing `bytes`.
  void Receive(std::span<const std::uint8_t> bytes) { pipeline_.Receive(bytes); }

  // ReceiveView: the status bar and the receive-counter label.
  void SetStatusText(std::string_view text) override;
  /// The status bar's message: what the program last wrote there. Menus and their
  /// entries never replace it.
  QString StatusText() const { return status_label_->text(); }
  void SetReceiveCounterText(std::string_view text) override;
  // MonitorSink: the frame monitor.
  void AppendMonitorText(std::string_view text, ColourRole role) override;

  // What the station logic drives.
  void SetTitle(const QString& title) { setWindowTitle(title); }
  void SetPortLabel(const QString& text) { port_label_->setText(text); }
  void SetLastPacketLabel(const QString& text) { last_packet_label_->setText(text); }
  void SetClockLabel(const QString& text) { clock_label_->setText(text); }
  /// Shows the open-port picture and hides the closed-port one, or the reverse.
  void ShowPortOpen(bool open);
  /// The tooltip of the port label and both port pictures (why the port is closed).
  void SetPortToolTip(const QString& text);
  void SetTerminalText(const QString& text) { terminal_->setText(text); }
  /// The sharing state in one line at the right of the status bar; `details`, one
  /// line per server, as its tooltip (plain text).
  void SetShareStatus(const QString& line, const QString& details);
  /// The network feeds' state, shown after the sharing state on the same line;
  /// an empty line (every feed off) leaves the sharing state alone.
  void SetFeedStatus(const QString& line, const QString& details);
  QLabel* share_status() const { return share_label_; }
  /// The alarm indicator at the right of the status bar: `text` on the colours of
  /// the highest severity, `details` as its tooltip; hidden while `text` is empty.
  /// A click asks for the Alarms window.
  void SetAlarmIndicator(const QString& text, const QString& details, AlarmColours colours);
  QPushButton* alarm_indicator() const { return alarm_button_; }

  /// Enables or disables the KISS-mode button and the terminal line; `why` is
  /// their tooltip while disabled.
  void SetTncControlsEnabled(bool enabled, const QString& why);

  /// The folder of this run's logs: shown in the About window, opened by
  /// "Open Log Folder".
  void SetLogFolder(const QString& folder) { log_folder_ = folder; }

  bool HexdumpChecked() const { return hexdump_action_->isChecked(); }
  /// Sets the hexdump check mark without reporting it as a toggle.
  void SetHexdumpChecked(bool checked);
  MonitorPane& monitor() { return *monitor_; }

  /// The fields that offer their history: a double-click or the context menu's
  /// "History..." entry asks for it (HistoryRequested), and dragging one carries its
  /// number to a history window. No field offers it until this is called.
  void SetHistoryFields(std::span<const int> fields);

  /// "&Clear": empties the monitor, zeroes the byte and frame counters and
  /// empties the receive-counter label; frame assembly goes on untouched.
  void ClearMonitor();

 signals:
  /// The status bar shows a new message.
  void StatusTextChanged(const QString& text);
  void SetupRequested();              // MnuSetup
  void ShareRequested();              // MnuShare
  void FeedsRequested();              // MnuFeeds
  void ExitRequested();               // MnuExit
  void Cleared();                     // MnuClear, after the clear
  void HexdumpToggled(bool checked);  // Mnu_ASCII_Hexdump
  void TncButtonClicked();            // Command4
  /// A key typed in Text2, with its character code, before the line handles it.
  void TerminalKeyPressed(int code);
  void Closing();  // the window is being closed
  /// The trend of a display field was asked for.
  void HistoryRequested(int field);
  /// The Alarms window was asked for: the menu entry or the indicator.
  void AlarmsRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // DisplayFieldsObserver: mirror the store.
  void FieldWritten(int index) override;
  void FieldColoured(int index) override;
  void BoxWritten(Box box) override;
  void GaugeWritten(Gauge gauge) override;

  // The menus, the frame monitor and the status bar (main_window.cpp).
  void BuildMenus();
  QWidget* BuildMonitor(QWidget* central);
  void BuildStatusBar();
  // The rows and columns of fields (main_window_layout.cpp).
  QWidget* BuildTopRow();
  QWidget* BuildHousekeeping();
  void AddHousekeepingFields(QGridLayout& grid, QWidget* box);
  /// Widens the unit column of each field column to the gauges placed in it.
  void AddGauges(QGridLayout& grid, QWidget* box, std::span<int> unit_widths);
  void AddStatusPictures(QGridLayout& grid, QWidget* box);
  QHBoxLayout* BuildBottomRow(QWidget* box);
  QWidget* BuildSideColumn();
  void AddSideFields(QGridLayout& thresholds, QGridLayout& com);
  QGroupBox* BuildOptions(QWidget* column);
  QGroupBox* BuildTerminal(QWidget* column);
  /// A read-only field wide enough for each of `widest`: fixed at that width, or,
  /// with a least width of 0, at least that wide and stretching.
  QLineEdit* MakeField(const QString& name, int least_width, const QStringList& widest);
  void ShowFieldColour(int index);
  // The history offers of the fields (main_window_history.cpp).
  /// The number of the field `watched` when it offers its history, else -1.
  int HistoryFieldOf(const QObject* watched) const;
  void ShowHistoryMenu(int field, const QPoint& where);

  DesktopProgram& program_;
  // Built before the widgets: it reports to this window, which forwards to them.
  FramePipeline pipeline_;
  MonitorPane* monitor_ = nullptr;

  std::array<QLineEdit*, kDisplayFieldCount> fields_{};  // null for hidden fields
  std::array<QLineEdit*, kBoxCount> boxes_{};
  std::array<QLabel*, kGaugeCount> gauges_{};
  QLabel* status_label_ = nullptr;
  QLabel* port_label_ = nullptr;
  QLabel* counter_label_ = nullptr;
  QLabel* last_packet_label_ = nullptr;
  QLabel* clock_label_ = nullptr;
  QLabel* port_open_picture_ = nullptr;
  QLabel* port_closed_picture_ = nullptr;
  QLineEdit* terminal_ = nullptr;
  QCheckBox* analyze_frame_ = nullptr;
  QPushButton* tnc_button_ = nullptr;
  QAction* hexdump_action_ = nullptr;
  QLabel* share_label_ = nullptr;
  // The sharing line: the sharing state and the feeds' state, each as last set.
  QString share_line_;
  QString share_details_;
  QString feed_line_;
  QString feed_details_;
  void ShowSharingLine();
  QPushButton* alarm_button_ = nullptr;
  QString log_folder_;
  std::bitset<kDisplayFieldCount> history_fields_;
  QPoint drag_start_;
};

}  // namespace zevrin
