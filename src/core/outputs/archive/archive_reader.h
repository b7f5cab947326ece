#pragma once
// Reading the archive back: one value's series over a time range, for plots.
//
// Stable interface for the history window:
//   ArchiveFileName(dir, label)      where the station's archive lies (archive_writer.h)
//   ArchiveColumns()                 every column; numeric() ones can be plotted
//   NumericColumnOfField(field)      the column behind a display field, or null
//   ColumnCaption / ColumnUnit       what to write on an axis (archive_columns.h)
//   ArchiveReader::Series            (time ms UTC, value) pairs of one column
//   ArchiveReader::Last              the latest value of one column

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "outputs/archive/archive_columns.h"

struct sqlite3;

namespace zevrin {

/// One value of a series.
struct SeriesPoint {
  std::int64_t ms = 0;  ///< reception time, milliseconds since 1970 (UTC)
  double value = 0;     ///< in the column's unit
};

/// A read-only connection to an archive. Reading never blocks the program that
/// writes it (WAL mode), and sees every frame committed before the query.
class ArchiveReader {
 public:
  ArchiveReader() = default;
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  /// Opens an existing archive; false with error() set when it is missing or
  /// not an archive of a version this program reads.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::string& error() const { return error_; }

  static constexpr std::int64_t kBeginning = std::numeric_limits<std::int64_t>::min();
  static constexpr std::int64_t kEnd = std::numeric_limits<std::int64_t>::max();

  /// The values of a numeric `column` received from `from_ms` to `to_ms`, both
  /// included, oldest first (equal times in the order they were added). Records
  /// without the value are left out. Empty on error (error() tells) or for a
  /// text column.
  std::vector<SeriesPoint> Series(const ArchiveColumn& column, std::int64_t from_ms = kBeginning,
                                  std::int64_t to_ms = kEnd);
  /// The latest value of a numeric column; none when it holds none.
  std::optional<SeriesPoint> Last(const ArchiveColumn& column);

 private:
  sqlite3* db_ = nullptr;
  std::string error_;
};

}  // namespace zevrin
