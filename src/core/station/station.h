#pragma once
// The station link of the main window: start-up and shutdown, the once-a-second
// tick, "&Clear", the hexdump entry, the KISS-mode button and the terminal line.
// The window forwards its events here and shows what the station tells its view.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/time_of_day.h"
#include "config/settings_file.h"
#include "frames/frame_analysis.h"
#include "input/serial_port.h"
#include "input/tcp_link.h"
#include "kiss/receive_path.h"
#include "outputs/archive/archive_thread.h"
#include "outputs/frame_recorder.h"
#include "outputs/logs/log_files.h"
#include "outputs/logs/stamped_raw_log.h"

namespace zevrin {

/// The last-packet display state; all 0 at program start and never reset.
struct LastPacketState {
  std::int32_t seconds_since_frame = 0;  // computed at the last tick
  std::int32_t last_shown_seconds = 0;   // the last non-zero value shown
  std::int32_t previous_gap = 0;         // the value shown in brackets
};

/// What lives for the whole run of the program and survives a restart of the main
/// window: the receive state, the frame analysis (unescaped frame and header), the
/// settings held in memory and the last-packet display state.
struct StationProgram {
  explicit StationProgram(const Clock& clock) : analysis(clock) {}
  ReceiveState receive;
  FrameAnalysis analysis;
  /// Line 1 (only start-up uses it), TimeServerHost and StationLabel.
  SettingsLines settings;
  LastPacketState last_packet;
};

/// The main window as the station sees it. Status-bar and receive-counter texts
/// come through ReceiveView, log problems through LogProblemListener; a log
/// problem must be shown so the user notices it (the status bar is emptied by the
/// next byte received).
class StationView : public ReceiveView, public LogProblemListener {
 public:
  virtual void SetWindowTitle(std::string_view text) = 0;
  virtual void SetPortLabel(std::string_view text) = 0;
  virtual void SetLastPacketText(std::string_view text) = 0;
  virtual void SetClockText(std::string_view text) = 0;
  /// Shows the open-port picture and hides the closed-port one, or the reverse.
  virtual void ShowPortOpen(bool open) = 0;
  /// Sets the tooltip of the port label and of both port pictures.
  virtual void SetPortToolTip(std::string_view text) = 0;
  /// Replaces the terminal line's text; the key being handled is still added
  /// by the line itself afterwards (Enter and Escape add nothing).
  virtual void SetTerminalText(std::string_view text) = 0;
  /// Empties the frame monitor.
  virtual void ClearMonitor() = 0;
  /// Opens the port setup dialog without waiting for it.
  virtual void OpenSetupDialog() = 0;
  /// Enables or disables the KISS-mode button and the terminal line; `why` is the
  /// reason shown on them while disabled.
  virtual void EnableTncControls(bool enabled, std::string_view why) = 0;
};

/// Starts the clock synchronisation (returns at once).
class ClockSyncStarter {
 public:
  virtual ~ClockSyncStarter() = default;
  virtual void BeginClockSync(std::string_view host) = 0;
};

/// Where the station finds its files.
struct StationPaths {
  /// The settings file; by default the bare name, i.e. in the working directory.
  std::string settings_file = std::string(kSettingsFileName);
  /// The directory of the log files: the program's own directory.
  std::string log_directory = ".";
};

/// What the port setup dialog starts from and writes back.
struct SetupValues {
  std::int16_t port_number = kDefaultPortNumber;  // in force now
  std::string line_settings;                      // in force now, "9600,N,8,1"
  std::string time_server_host;                   // written back as line 2
  std::string station_label;                      // written back as line 3
  std::string settings_file;
  std::optional<TcpAddress> tcp;  // in force instead of the serial port, when set
};

/// "ZEVRIN TARVELO Housekeeping Data Decoder V. 1.7.4          [label]", the label
/// without its control characters.
std::string WindowTitle(std::string_view station_label);

/// "COM3 19200,N,8,1 initialized ", upper-cased.
std::string PortLabelText(std::int16_t port_number, std::string_view line_settings);

/// The tooltip of the port label and pictures: empty without a failure, otherwise
/// "cannot open DEVICE: REASON", with what to do when the user lacks the right.
std::string PortToolTipText(const std::optional<PortOpenFailure>& failure);

/// "hh:mm:ss" of a UTC time.
std::string ClockText(std::int64_t utc_seconds);

/// The tick's last-packet step: updates `state` and returns the label's new text.
/// A frame closed within the current second gives "0 sec since last packet [gap]",
/// the gap being the last silence shown, so under continuous reception the label
/// never goes on claiming seconds of silence.
std::string NextLastPacketText(LastPacketState& state, std::int64_t last_frame_time,
                               std::int64_t now);

/// Why the KISS-mode button and the terminal line are off over TCP.
inline constexpr std::string_view kTncControlsOffOverTcp =
    "Not available over TCP: the KISS-mode command and the terminal talk to a hardware "
    "TNC in command mode, and over TCP they would put garbage into the KISS stream.";

/// The archive commits the frames of each notification at its end, and within a
/// notification every this many frames: at a pass's pace that is one frame per
/// transaction, and a flood of frames costs few commits, yet a killed program
/// loses at most this many frames of the archive (never of the raw log), unless
/// the archive was keeping frames it could not write.
inline constexpr int kArchiveBatchFrames = 16;
/// Frames the archive keeps while it cannot take them (another program holding
/// it, a full disk): some twenty minutes of a pass, at most about 20 MB.
inline constexpr std::size_t kArchiveQueueFrames = 20000;
/// Free space the archive leaves to the raw log on their file system: more than
/// the archive can take in one go, its write-ahead log being held to 1 MB.
inline constexpr std::uint64_t kArchiveReserveBytes = 4 << 20;

/// The KISS-mode command the button sends, one write per byte.
inline constexpr std::uint8_t kKissModeCommand[] = {0x1B, 0x40, 0x6B, 0x0D};

class Station {
 public:
  /// One Station per main window; `program` outlives all of them. The references
  /// must outlive this object. Starts with the hexdump option off and the decoded
  /// view on.
  Station(StationProgram& program, SerialPort& port, StationView& view, ClockSyncStarter& sync,
          const Clock& clock, StationPaths paths = {});
  /// The same on a receive path that the window already owns; `path` must work on
  /// `program.receive` and outlive this object. Its raw log and frame handler are
  /// set here.
  Station(StationProgram& program, ReceivePath& path, SerialPort& port, StationView& view,
          ClockSyncStarter& sync, const Clock& clock, StationPaths paths = {});
  /// Closes the log files quietly; call Stop first for a proper shutdown.
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  /// The link used when line 1 of the settings file is "tcp:HOST:PORT"; without
  /// one such a line leaves the station unconnected. Set it before Start.
  void SetTcpLink(TcpLink* link) { tcp_ = link; }

  /// Start-up: settings file, title, clock synchronisation, port, port label,
  /// last-frame time, logs. Failing steps are skipped. A missing settings file
  /// opens the setup dialog and the port is opened at 1, 9600,N,8,1. With a
  /// "tcp:" line the TCP link connects instead of the port, and the KISS-mode
  /// button and the terminal line are disabled.
  void Start();
  /// Shutdown: closes the logs (deleting empty ones) and the port. Failures go to
  /// the status bar.
  void Stop();
  /// The tick, every 1000 ms: port picture, clock label, last-packet label, and
  /// the archive's notices.
  void Tick();
  /// "&Clear": empties the monitor, the counters and the receive-counter label.
  void Clear();
  /// "Write Payload to ASCII File (Hexdump)": toggles the option. Checked after
  /// start-up, it opens the dump and hex logs, written from the next frame on.
  void ToggleHexdump();
  /// The hexdump option set to `checked` by a check mark that toggles itself;
  /// the same effects as the click.
  void SetHexdump(bool checked);
  bool hexdump() const { return program_.analysis.options().hexdump; }
  /// "TNC2 @K": sends the KISS-mode command when the port is open.
  void SendKissModeCommand();
  /// A key typed into the terminal line, with its character code.
  void TerminalKey(int key);
  /// A notification of the serial port; the frames it completed are committed to
  /// the archive together.
  void PortEvent(std::int16_t code);
  /// The serial port went away and was closed; says so in the status bar.
  void PortLost(std::string_view reason);
  /// The TCP link has connected: a fresh stream starts.
  void TcpConnected();
  /// The TCP link failed to connect or lost its connection; the frame in progress
  /// is dropped. `message` goes to the status bar unless empty (the link tells an
  /// outage once).
  void TcpDisconnected(std::string_view message);
  bool using_tcp() const { return using_tcp_; }
  /// Whether the link in use (the TCP link or the serial port) is open now.
  bool LinkOpen() { return link().IsOpen(); }

  /// Puts `recorder` (which must hand frames on to this station's frame analysis)
  /// between the receive path and the analysis, and from the next start-up on
  /// fills the station's archive with every frame: the file
  /// ArchiveFileName(log directory, station label), kept across runs, its
  /// problems told like those of the logs. Null: no recorder and no archive.
  /// The recorder must outlive this station or be unset first.
  void SetRecorder(FrameRecorder* recorder);
  ArchiveThread& archive() { return archive_; }
  const ArchiveThread& archive() const { return archive_; }
  /// Keeps `extension`'s tables in the archive, written with its frames; call
  /// before Start. `extension` must outlive this object.
  void AddArchiveExtension(ArchiveExtension* extension) { archive_.AddExtension(extension); }

  /// The values the setup dialog opens with.
  SetupValues CurrentSetup() const;

  ReceivePath& receive_path() { return receive_path_; }
  const LogFiles& logs() const { return logs_; }

 private:
  Station(StationProgram& program, std::unique_ptr<ReceivePath> own_path, ReceivePath* shared_path,
          SerialPort& port, StationView& view, ClockSyncStarter& sync, const Clock& clock,
          StationPaths paths);

  void StartTcp(std::string_view settings_line);
  /// The link in use: the TCP link or the serial port.
  Link& link();

  StationProgram& program_;
  SerialPort& port_;
  StationView& view_;
  ClockSyncStarter& sync_;
  const Clock& clock_;
  StationPaths paths_;
  std::unique_ptr<ReceivePath> own_path_;  // null when the window owns the path
  ReceivePath& receive_path_;
  LogFiles logs_;
  StampedRawLog stamped_raw_log_{logs_.raw_log(), clock_};  // the raw log with time stamps
  ArchiveThread archive_;
  FrameRecorder* recorder_ = nullptr;
  TcpLink* tcp_ = nullptr;
  std::optional<TcpAddress> tcp_address_;
  bool using_tcp_ = false;  // line 1 names a TCP link; true even for a malformed one
  bool loaded_ = false;
};

}  // namespace zevrin
