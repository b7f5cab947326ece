#include "station/station.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <utility>

#include "base/version.h"
#include "clock/time_sync.h"
#include "outputs/logs/raw_log_settings.h"

namespace zevrin {

namespace {

constexpr std::string_view kTitleStart = "ZEVRIN TARVELO Housekeeping Data Decoder V. ";
constexpr std::string_view kTitleLabelStart = "          [";
constexpr std::string_view kKissModeStatus = "set TNC in KISS mode";
// Serial devices belong to the dialout group on the usual Linux systems.
constexpr std::string_view kPermissionRemedy = ": add your user to the dialout group";
constexpr int kEscapeKey = 27;
constexpr int kEnterKey = 13;

// The label as read, without the control characters that a window title cannot
// show: C0 controls, DEL, and C1 controls in their UTF-8 form (C2 80 to C2 9F).
std::string WithoutControlCharacters(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) continue;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      ++i;
      continue;
    }
    shown.push_back(static_cast<char>(c));
  }
  return shown;
}

}  // namespace

std::string WindowTitle(std::string_view station_label) {
  std::string title(kTitleStart);
  title += kVersion;
  title += kTitleLabelStart;
  title += WithoutControlCharacters(station_label);
  title += ']';
  return title;
}

std::string PortToolTipText(const std::optional<PortOpenFailure>& failure) {
  if (!failure) return {};
  std::string text = "cannot open " + failure->device + ": " + failure->reason;
  if (failure->permission_denied) text += kPermissionRemedy;
  return text;
}

std::string PortLabelText(std::int16_t port_number, std::string_view line_settings) {
  std::string label = "COM" + std::to_string(port_number) + " ";
  label += line_settings;
  for (char& c : label) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  label += " initialized ";
  return label;
}

std::string ClockText(std::int64_t utc_seconds) {
  const CivilTime t = ToCivil(utc_seconds);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return text;
}

std::string NextLastPacketText(LastPacketState& state, std::int64_t last_frame_time,
                               std::int64_t now) {
  // Clamped rather than wrapped, so a clock set far off still shows a sensible sign.
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  state.seconds_since_frame =
      static_cast<std::int32_t>(std::clamp(now - last_frame_time, kMin, kMax));
  if (state.seconds_since_frame == 0) state.previous_gap = state.last_shown_seconds;
  std::string text = std::to_string(state.seconds_since_frame);
  text += " sec since last packet [";
  text += std::to_string(state.previous_gap);
  text += ']';
  if (state.seconds_since_frame != 0) state.last_shown_seconds = state.seconds_since_frame;
  return text;
}

Station::Station(StationProgram& program, SerialPort& port, StationView& view,
                 ClockSyncStarter& sync, const Clock& clock, StationPaths paths)
    : Station(program, std::make_unique<ReceivePath>(program.receive, clock, view), nullptr, port,
              view, sync, clock, std::move(paths)) {}

Station::Station(StationProgram& program, ReceivePath& path, SerialPort& port, StationView& view,
                 ClockSyncStarter& sync, const Clock& clock, StationPaths paths)
    : Station(program, nullptr, &path, port, view, sync, clock, std::move(paths)) {}

Station::Station(StationProgram& program, std::unique_ptr<ReceivePath> own_path,
                 ReceivePath* shared_path, SerialPort& port, StationView& view,
                 ClockSyncStarter& sync, const Clock& clock, StationPaths paths)
    : program_(program),
      port_(port),
      view_(view),
      sync_(sync),
      clock_(clock),
      paths_(std::move(paths)),
      own_path_(std::move(own_path)),
      receive_path_(own_path_ ? *own_path_ : *shared_path),
      logs_(paths_.log_directory, &view, clock),
      archive_(&view, {.batch_frames = kArchiveBatchFrames,
                       .vfs = {},
                       .background_checkpoints = false,
                       .queue_frames = kArchiveQueueFrames,
                       .reserve_bytes = kArchiveReserveBytes}) {
  // The options belong to the window and start afresh with it.
  program_.analysis.options() = MonitorOptions{};
  receive_path_.SetFrameHandler(&program_.analysis);
}

Station::~Station() {
  program_.analysis.SetDumpLog(nullptr);
  receive_path_.SetRawLog(nullptr);
  SetRecorder(nullptr);
}

void Station::SetRecorder(FrameRecorder* recorder) {
  if (recorder_ != nullptr) recorder_->RemoveSink(&archive_);
  recorder_ = recorder;
  receive_path_.SetFrameHandler(recorder != nullptr ? static_cast<FrameHandler*>(recorder)
                                                    : &program_.analysis);
}

void Station::Start() {
  SettingsLines& settings = program_.settings;
  const SettingsReadResult read = ReadSettingsFile(paths_.settings_file, settings);
  if (settings.time_server_host.empty()) settings.time_server_host = kDefaultTimeServerHost;

  view_.SetWindowTitle(WindowTitle(settings.station_label));
  sync_.BeginClockSync(settings.time_server_host);

  using_tcp_ = read != SettingsReadResult::kMissing && IsTcpSettingsLine(settings.settings_line);
  if (using_tcp_) {
    StartTcp(settings.settings_line);
  } else {
    if (read == SettingsReadResult::kMissing) {
      receive_path_.OpenPort(port_, kDefaultPortNumber, std::string(kDefaultLineSettings));
    } else {
      receive_path_.OpenPort(port_, SettingsPortNumber(settings.settings_line),
                             SettingsLineSettings(settings.settings_line));
    }
    view_.SetPortLabel(PortLabelText(port_.PortNumber(), port_.Settings()));
    view_.SetPortToolTip(PortToolTipText(port_.OpenFailure()));
  }
  view_.EnableTncControls(!using_tcp_, using_tcp_ ? kTncControlsOffOverTcp : "");

  program_.receive.last_frame_time = clock_.Now().seconds;

  logs_.OpenRawLog(settings.station_label, clock_.Now().seconds);
  const bool stamped =
      ReadRawLogSettings(RawLogSettingsPathBeside(paths_.settings_file)).kiss_timestamps;
  receive_path_.SetRawLog(stamped ? static_cast<RawLog*>(&stamped_raw_log_) : &logs_.raw_log());
  program_.analysis.SetDumpLog(&logs_.dump_log());
  if (hexdump()) logs_.OpenDumpLogs(settings.station_label, clock_);
  if (recorder_ != nullptr) {
    archive_.Open(ArchiveFileName(paths_.log_directory, settings.station_label), true);
    // The link as line 1 names it: "COM1", or "tcp:localhost:8001".
    const std::string link_name =
        using_tcp_ ? (tcp_address_ ? TcpSettingsLine(*tcp_address_) : settings.settings_line)
                   : "COM" + std::to_string(port_.PortNumber());
    recorder_->SetSource(settings.station_label, link_name);
    recorder_->AddSink(&archive_);
  }
  loaded_ = true;

  // Last, so the dialog opens with the settings now in force.
  if (read == SettingsReadResult::kMissing) view_.OpenSetupDialog();
}

void Station::Stop() {
  if (!loaded_) return;
  loaded_ = false;
  receive_path_.SetRawLog(nullptr);
  program_.analysis.SetDumpLog(nullptr);
  for (const std::string& failure : logs_.CloseAll()) view_.SetStatusText(failure);
  if (recorder_ != nullptr) recorder_->RemoveSink(&archive_);
  archive_.Close();
  if (using_tcp_) {
    if (tcp_ != nullptr) tcp_->Close();  // also ends the attempts to connect
  } else if (port_.IsOpen()) {
    port_.Close();
  }
}

void Station::StartTcp(std::string_view settings_line) {
  receive_path_.AbandonFrame();
  tcp_address_ = TcpSettingsAddress(settings_line);
  if (!tcp_address_) {
    view_.SetPortLabel("TCP address invalid");
    std::string text = "Line 1 of the settings file is no KISS over TCP address (tcp:HOST:PORT): ";
    text += settings_line;
    view_.SetStatusText(text);
    return;
  }
  view_.SetPortLabel(TcpPortLabelText(*tcp_address_, false));
  if (tcp_ != nullptr) tcp_->Connect(*tcp_address_);
}

Link& Station::link() {
  if (using_tcp_ && tcp_ != nullptr) return *tcp_;
  return port_;
}

void Station::Tick() {
  view_.ShowPortOpen(link().IsOpen());
  const std::int64_t now = clock_.Now().seconds;
  view_.SetClockText(ClockText(now));
  view_.SetLastPacketText(
      NextLastPacketText(program_.last_packet, program_.receive.last_frame_time, now));
  // The archive writes on its own thread: what it has told arrives here.
  archive_.DeliverNotices();
}

void Station::Clear() {
  view_.ClearMonitor();
  receive_path_.ClearCounters();
  view_.SetReceiveCounterText("");
}

void Station::ToggleHexdump() { SetHexdump(!hexdump()); }

void Station::SetHexdump(bool checked) {
  program_.analysis.options().hexdump = checked;
  // Checked after start-up: open the logs now, so the next frame is written.
  if (checked && loaded_ && !logs_.dump_logs_active()) {
    logs_.OpenDumpLogs(program_.settings.station_label, clock_);
  }
}

void Station::SendKissModeCommand() {
  if (using_tcp_) return;  // a software TNC takes no commands; the button is disabled
  if (port_.IsOpen()) {
    for (const std::uint8_t byte : kKissModeCommand) port_.WriteByte(byte);
  }
  view_.SetStatusText(kKissModeStatus);
}

void Station::TerminalKey(int key) {
  if (key == kEscapeKey) view_.SetTerminalText("[ESC]");
  if (key == kEnterKey) view_.SetTerminalText("");
  // Only codes of the 8-bit character set can go out as one byte.
  if (key >= 0 && key <= 255 && !using_tcp_ && port_.IsOpen()) {
    port_.WriteByte(static_cast<std::uint8_t>(key));
  }
}

void Station::PortEvent(std::int16_t code) {
  receive_path_.PortEvent(code, link());
  // The raw log has the disk first: while it finds no space, the archive keeps
  // its frames rather than take what space comes free.
  archive_.Hold(logs_.raw().short_of_space());
  // The frames of one notification go to the archive in one transaction.
  archive_.Flush();
}

void Station::PortLost(std::string_view reason) {
  std::string text = "COM" + std::to_string(port_.PortNumber()) + " lost (";
  text += reason;
  text += "): port closed";
  view_.SetStatusText(text);
}

void Station::TcpConnected() {
  receive_path_.AbandonFrame();
  if (tcp_address_) view_.SetPortLabel(TcpPortLabelText(*tcp_address_, true));
}

void Station::TcpDisconnected(std::string_view message) {
  receive_path_.AbandonFrame();
  if (tcp_address_) view_.SetPortLabel(TcpPortLabelText(*tcp_address_, false));
  if (!message.empty()) view_.SetStatusText(message);
}

SetupValues Station::CurrentSetup() const {
  SetupValues values;
  values.port_number = port_.PortNumber();
  values.line_settings = port_.Settings();
  values.time_server_host = program_.settings.time_server_host;
  values.station_label = program_.settings.station_label;
  values.settings_file = paths_.settings_file;
  if (using_tcp_) values.tcp = tcp_address_;
  return values;
}

}  // namespace zevrin
