#pragma once
// The desktop program's raw-log settings beyond the main settings file, kept in
// "zevrinkiss-rawlog.ini" beside it, one "key=value" per line:
//
//   kiss_timestamps=1   a KISS time-stamp frame before each frame (default 0)
//
// Blank lines and lines starting with '#' or ';' are skipped; unknown keys are
// left alone, so a newer program's file reads.

#include <string>
#include <string_view>

namespace zevrin {

inline constexpr std::string_view kRawLogSettingsFileName = "zevrinkiss-rawlog.ini";

struct RawLogSettings {
  /// A time-stamp frame with the reception time before each frame logged.
  bool kiss_timestamps = false;
};

/// The settings in the file at `path`; the defaults for a missing or unreadable
/// file and for a value that is none of 1, 0, true, false, yes, no, on, off.
RawLogSettings ReadRawLogSettings(const std::string& path);

/// The raw-log settings file in the folder of the main settings file.
std::string RawLogSettingsPathBeside(const std::string& settings_file);

}  // namespace zevrin
