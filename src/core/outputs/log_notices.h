#pragma once
// The notices of the logs and of the archive: whether each is complete now and
// what it has missed, kept up to date and told to a listener as it changes.

#include <cstdint>
#include <string>
#include <string_view>

namespace zevrin {

/// The three logs and the archive, for the words of their notices.
enum class LogKind { kRaw, kDump, kHex, kArchive };

/// What the notice of one log shows: whether the log is complete now and what it
/// has missed. The raw log counts frames, the text logs count lines.
struct LogNotice {
  LogKind kind = LogKind::kRaw;
  std::string path;
  /// False from a failure until the log is written again (a log file: a run of
  /// kRecoveryBytes).
  bool complete_now = true;
  /// The description of the last failure.
  std::string error;
  /// Frames or lines not written since the log was opened.
  std::uint64_t missed = 0;
  /// UTC seconds of the first and the last piece missed (when `missed` > 0).
  std::int64_t first_missed = 0;
  std::int64_t last_missed = 0;
  /// UTC seconds since when the log is written again (when `complete_now`).
  std::int64_t written_again = 0;
};

/// The notice's text, for example "The raw log dir/Lab_20062009_1405.kss is
/// incomplete: it cannot be written (No space left on device). 12600 frames missed
/// since 14:05:09 UTC; reception goes on without them."
std::string LogNoticeText(const LogNotice& notice);

/// Told whenever the notice of a log changes: a failure, another piece missed, or
/// the log written again. A log that never fails is never told.
class LogProblemListener {
 public:
  virtual ~LogProblemListener() = default;
  virtual void LogNoticeChanged(const LogNotice& notice) = 0;
};

/// The notice of one log, kept up to date and told to the listener at each
/// change: a failure once however often it repeats, every piece missed, and the
/// log written again once after a failure.
class LogNoticeKeeper {
 public:
  /// `listener` may be null: nothing is told then.
  LogNoticeKeeper(LogKind kind, LogProblemListener* listener) : listener_(listener) {
    notice_.kind = kind;
  }

  /// Starts the notice of the log at `path` afresh: complete, nothing missed.
  /// Not told: nothing has gone wrong yet.
  void Restart(std::string path);
  /// Tells nothing from now on, for an owner whose listener may be gone.
  void Silence() { listener_ = nullptr; }

  /// The log cannot be written (`error`): told unless the notice shows this
  /// very failure already.
  void Failed(std::string_view error);
  /// `count` pieces missed, received at `utc_seconds`: told (unless none).
  void Missed(std::uint64_t count, std::int64_t utc_seconds);
  /// A failure (`error`) that missed one piece, received at `utc_seconds`:
  /// told once for both.
  void FailedMissingOne(std::string_view error, std::int64_t utc_seconds);
  /// The log is written again since `utc_seconds`: told when it was failing.
  void WrittenAgain(std::int64_t utc_seconds);

  bool complete_now() const { return notice_.complete_now; }
  const LogNotice& notice() const { return notice_; }

 private:
  // Each records a change and returns whether there was one to tell.
  bool RecordFailure(std::string_view error);
  void RecordMissed(std::uint64_t count, std::int64_t utc_seconds);
  void Tell() const;

  LogProblemListener* listener_;
  LogNotice notice_;
};

}  // namespace zevrin
