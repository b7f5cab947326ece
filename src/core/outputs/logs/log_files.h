#pragma once
// The log files of one run of the main window: the raw log (".kss", always), the
// dump log (".dmp") and the hex log (".hex", opened with the dump log and never
// written). A log that cannot be created or written never stops reception; its
// notice tells the user whether it is complete now and what it has missed.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/time_of_day.h"
#include "frames/monitor.h"
#include "kiss/receive_path.h"
#include "outputs/log_notices.h"
#include "outputs/logs/append_file.h"

namespace zevrin {

inline constexpr std::string_view kRawLogExtension = ".kss";
inline constexpr std::string_view kDumpLogExtension = ".dmp";
inline constexpr std::string_view kHexLogExtension = ".hex";

/// The station label made safe to start a file name: every character that is not
/// an ASCII letter or digit, '-', '_' or '.' becomes one '_' (a UTF-8 sequence
/// counts as one character, a stray byte as one), and a leading '.' becomes '_'.
/// So the name stays inside its directory and is never hidden: "../../x" gives
/// "_._.._x", "a/b" gives "a_b", "Lab\0evil" gives "Lab_evil".
std::string FileNameLabel(std::string_view station_label);

/// `directory`, "/", the station label made safe by FileNameLabel, "_", the UTC
/// time as ddmmyyyy_hhmm and the extension: "dir/Lab_03032010_1407.kss".
std::string LogFileName(std::string_view directory, std::string_view station_label,
                        std::int64_t utc_seconds, std::string_view extension);

/// Bytes a log must take in one after another, after its last failure, to count
/// as written again. A full disk still takes small pieces into the unused end of
/// its last block, which proves nothing; this many bytes need a new block.
inline constexpr std::size_t kRecoveryBytes = 4096;

/// A log file that keeps its notice up to date. A file that could not be created is
/// tried again at the next write, so logging resumes once the directory is
/// writable again.
class CheckedLogFile {
 public:
  /// `listener` may be null; `clock` stamps the notice and must outlive this.
  CheckedLogFile(LogKind kind, LogProblemListener* listener, const Clock& clock)
      : notices_(kind, listener), clock_(clock) {}

  /// Opens (creating when needed) for appending; a failure is told.
  bool Open(const std::string& path);
  /// Appends the bytes whole or not at all; a failure is told and counted as one
  /// piece missed.
  bool Append(const void* data, std::size_t size);
  /// Closes it, deleting an empty file. Returns false with error() set on failure.
  bool Close();
  bool IsOpen() const { return file_.IsOpen(); }
  /// True from Open to Close, whether or not the file could be created.
  bool active() const { return active_; }
  const std::string& path() const { return file_.path(); }
  const std::string& error() const { return file_.error(); }
  const LogNotice& notice() const { return notices_.notice(); }
  /// True from a write refused for lack of space until the file is written again.
  bool short_of_space() const { return !notices_.complete_now() && file_.out_of_space(); }

 private:
  bool OpenFile(const std::string& path);
  void Failed(bool piece_missed);
  void Succeeded(std::size_t size);

  AppendFile file_;
  LogNoticeKeeper notices_;
  const Clock& clock_;
  bool active_ = false;
  // Bytes written one after another since the last failure, while not complete.
  std::size_t written_since_failure_ = 0;
};

/// The raw log: each complete frame appended whole.
class CheckedRawLog final : public RawLog, public CheckedLogFile {
 public:
  CheckedRawLog(LogProblemListener* listener, const Clock& clock)
      : CheckedLogFile(LogKind::kRaw, listener, clock) {}
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
  /// `listener` may be null: problems are then not told. `clock` stamps the
  /// notices and must outlive this.
  LogFiles(std::string directory, LogProblemListener* listener, const Clock& clock);
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
