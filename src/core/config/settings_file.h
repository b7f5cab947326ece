#pragma once
// The settings file "zevrinkiss.ini": three lines (port and line settings, time
// server, station label), read at every start of the main window and written by
// the port setup dialog.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zevrin {

/// The settings file's bare name, looked up in the current working directory.
inline constexpr std::string_view kSettingsFileName = "zevrinkiss.ini";

/// Port and line settings used when there is no settings file.
inline constexpr std::int16_t kDefaultPortNumber = 1;
inline constexpr std::string_view kDefaultLineSettings = "9600,N,8,1";

/// The three lines of the settings file.
struct SettingsLines {
  std::string settings_line;     // line 1: "03,19200,N,8,1"
  std::string time_server_host;  // line 2: empty means the default host
  std::string station_label;     // line 3: free text, may be empty
};

enum class SettingsReadResult {
  kRead,     // the file was read (possibly with fewer than three lines)
  kMissing,  // there is no such file
  kFailed,   // the file exists but could not be read
};

/// Of each line only its first bytes are kept; the rest of the line is ignored.
inline constexpr std::size_t kSettingsLineLimit = 256;
/// No more of the file than its first bytes is read; lines that start beyond them
/// count as missing.
inline constexpr std::size_t kSettingsReadLimit = 4096;

/// Reads the settings file at `path` into `lines`. A line ends at CR LF, CR or LF;
/// see kSettingsLineLimit and kSettingsReadLimit for what is read of it.
/// Lines the file does not have (fewer than three) leave their value in `lines`
/// as it was; with kMissing or kFailed nothing is changed.
SettingsReadResult ReadSettingsFile(const std::string& path, SettingsLines& lines);

/// Creates the file anew with the three lines, each ended by CR LF. Returns the
/// reason when the file could not be written completely, nullopt on success.
std::optional<std::string> WriteSettingsFile(const std::string& path, const SettingsLines& lines);

/// The port number of line 1: the value of the leading decimal digits among its
/// first two characters, 0 when it starts with none.
std::int16_t SettingsPortNumber(std::string_view settings_line);

/// The line settings of line 1: from its fourth character to its end, upper-cased.
std::string SettingsLineSettings(std::string_view settings_line);

/// A line-settings text "speed,parity,data bits,stop bits" cut into its parts.
/// Missing parts stay empty; nothing is checked here.
struct LineSettings {
  std::string speed;
  std::string parity;
  std::string data_bits;
  std::string stop_bits;
};
LineSettings SplitLineSettings(std::string_view text);

/// Line 1 as the setup dialog writes it: the fourth and fifth characters of the
/// port entry ("COM07" gives "07"), then speed, parity, data bits and stop bits,
/// all joined by commas. Note the order differs from the dialog's lists.
std::string BuildSettingsLine(std::string_view port_entry, const LineSettings& choice);

/// The dialog's entry for a port number: "COM" and two digits ("COM07").
std::string PortEntryText(int port_number);

}  // namespace zevrin
