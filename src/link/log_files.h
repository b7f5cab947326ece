#pragma once
// The log files of one run of the main window: the raw log (".kss", always), the
// dump log (".dmp") and the hex log (".hex", opened with the dump log and never
// written). A log that cannot be created or written never stops reception, but the
// user is told once, and told again when it works once more.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frames/monitor.h"
#include "link/append_file.h"
#include "link/receive_path.h"
#include "platform/time_of_day.h"

namespace zevrin {

inline constexpr std::string_view kRawLogExtension = ".kss";
inline constexpr std::string_view kDumpLogExtension = ".dmp";
inline constexpr std::string_view kHexLogExtension = ".hex";

/// `directory`, "/", the station label, "_", the UTC time as ddmmyyyy_hhmm and the
/// extension: "dir/Lab_03032010_1407.kss".
std::string LogFileName(std::string_view directory, std::string_view station_label,
                        std::int64_t utc_seconds, std::string_view extension);

/// Told when a log file starts failing and when it works again. Each change is
/// told once, so a full disk gives one message, not one per frame.
class LogProblemListener {
 public:
  virtual ~LogProblemListener() = default;
  virtual void ShowLogProblem(std::string_view message) = 0;
  virtual void ShowLogRecovered(std::string_view message) = 0;
};

/// A log file that tells its listener when it starts failing and when it works
/// again. A file that could not be created is tried again at the next write, so
/// logging resumes once the directory is writable again.
class CheckedLogFile {
 public:
  explicit CheckedLogFile(LogProblemListener* listener) : listener_(listener) {}

  /// Opens (creating when needed) for appending; a failure is told.
  bool Open(const std::string& path);
  /// Appends the bytes whole or not at all; a failure is told.
  bool Append(const void* data, std::size_t size);
  /// Closes it, deleting an empty file. Returns false with error() set on failure.
  bool Close();
  bool IsOpen() const { return file_.IsOpen(); }
  /// True from Open to Close, whether or not the file could be created.
  bool active() const { return active_; }
  const std::string& path() const { return file_.path(); }
  const std::string& error() const { return file_.error(); }

 private:
  void Failed();
  void Succeeded();

  AppendFile file_;
  LogProblemListener* listener_;
  bool active_ = false;
  bool failing_ = false;
};

/// The raw log: each complete frame appended whole.
class CheckedRawLog final : public RawLog, public CheckedLogFile {
 public:
  using CheckedLogFile::CheckedLogFile;
  bool AppendFrame(std::span<const std::uint8_t> frame) override {
    return Append(frame.data(), frame.size());
  }
};

/// A text log: each line goes to the file at once, ended by CR LF.
class CheckedDumpLog final : public DumpLog, public CheckedLogFile {
 public:
  using CheckedLogFile::CheckedLogFile;
  void WriteLine(std::string_view line) override;

 private:
  std::string line_;  // the line with its CR LF, kept to reuse its storage
};

/// The three logs of one run, named and placed in `directory` (the program's own).
class LogFiles {
 public:
  /// `listener` may be null: problems are then not told.
  LogFiles(std::string directory, LogProblemListener* listener);
  ~LogFiles();
  LogFiles(const LogFiles&) = delete;
  LogFiles& operator=(const LogFiles&) = delete;

  /// Opens the raw log under its name for `utc_seconds`.
  void OpenRawLog(std::string_view station_label, std::int64_t utc_seconds);
  /// Opens the dump log, then the hex log; each name takes its own clock reading.
  void OpenDumpLogs(std::string_view station_label, const Clock& clock);
  bool dump_logs_active() const { return dump_.active(); }

  /// Closes raw, dump and hex log in this order, deleting those that hold no
  /// bytes. Returns a description of each step that failed, in order.
  std::vector<std::string> CloseAll();

  RawLog& raw_log() { return raw_; }
  DumpLog& dump_log() { return dump_; }
  const CheckedRawLog& raw() const { return raw_; }
  const CheckedDumpLog& dump() const { return dump_; }
  const CheckedDumpLog& hex() const { return hex_; }

 private:
  std::string directory_;
  CheckedRawLog raw_;
  CheckedDumpLog dump_;
  CheckedDumpLog hex_;
};

}  // namespace zevrin
