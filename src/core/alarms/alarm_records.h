#pragma once
// The alarms an archive keeps, read back for the Alarms window and the history
// window: each raise with its clear and acknowledgement.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace zevrin {

/// One alarm as the archive keeps it.
struct AlarmRecord {
  std::string rule;      ///< the rule as written
  std::string severity;  ///< "watch", "warning" or "critical"
  std::string message;
  /// The value the rule watches ("battery_volts"; the x of "rate(x)"); empty for
  /// a silence and for a rule this program cannot read.
  std::string value_name;
  std::optional<double> value;  ///< the value that raised it
  std::int64_t raised_ms = 0;
  std::optional<std::int64_t> cleared_ms;
  std::optional<std::int64_t> acknowledged_ms;
};

/// A read-only connection to the alarms of an archive. The file is opened at the
/// first read and, while that fails (no frame has reached the archive yet), again
/// at each later read. An archive without an alarm yet has none to read.
class AlarmRecordReader {
 public:
  explicit AlarmRecordReader(std::string path) : path_(std::move(path)) {}
  ~AlarmRecordReader();
  AlarmRecordReader(const AlarmRecordReader&) = delete;
  AlarmRecordReader& operator=(const AlarmRecordReader&) = delete;

  const std::string& path() const { return path_; }
  /// Why the last read found nothing; empty when it worked.
  const std::string& error() const { return error_; }

  /// The alarms raised before `to_ms` and not cleared before `from_ms`, the latest
  /// raised first, at most `limit` of them.
  std::vector<AlarmRecord> Read(std::int64_t from_ms, std::int64_t to_ms, std::size_t limit);

 private:
  bool EnsureOpen();
  void Close();

  std::string path_;
  std::string error_;
  sqlite3* db_ = nullptr;
};

}  // namespace zevrin
