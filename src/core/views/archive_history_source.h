#pragma once
// The recorded values of a station's archive as the history window reads them.

#include <string>

#include "alarms/alarm_records.h"
#include "outputs/archive/archive_reader.h"
#include "views/history_source.h"

namespace zevrin {

/// Reads the numeric values of an archive file. The file is opened at the first
/// read and, while that fails (no frame has reached the archive yet), again at
/// each later read, so a window opened before the archive exists fills once it does.
class ArchiveHistorySource final : public HistorySource {
 public:
  explicit ArchiveHistorySource(std::string path) : path_(std::move(path)), alarms_(path_) {}

  const std::string& path() const { return path_; }

  /// Every field the main window shows that has a numeric archive column.
  std::vector<HistoryValueInfo> Values() const override;
  void ReadSeries(int field, TimeSpan span, std::vector<HistoryPoint>& out) const override;
  std::optional<HistoryPoint> Latest(int field) const override;
  /// The alarms the archive keeps on the field's value.
  std::vector<TimeSpan> AlarmSpans(int field, TimeSpan span, std::int64_t now_ms) const override;

 private:
  bool EnsureOpen() const;

  std::string path_;
  // Reading changes only the connection's state, not what the source holds.
  mutable ArchiveReader reader_;
  mutable AlarmRecordReader alarms_;
};

}  // namespace zevrin
