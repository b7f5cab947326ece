#pragma once
// The rows of the frames being written, gathered so that many go into the
// archive in one INSERT: a statement for many rows saves most of the work SQLite
// does per statement.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "outputs/archive/archive_batch.h"
#include "outputs/archive/sqlite_statement.h"

namespace zevrin {

/// The rows of a batch's frames waiting for their INSERT, and the statements
/// that insert them: each frame's row of `frames` and its housekeeping row, if
/// it carried a record. Used inside one transaction: what is staged is either
/// inserted before the commit or cleared with a rollback.
class ArchiveRows {
 public:
  /// A frame of the batch, waiting for its INSERT.
  struct StagedRow {
    std::size_t index;  ///< in the batch
    std::int64_t id;    ///< its row in `frames`
  };

  /// Prepares the INSERTs on `db`; false when one cannot be prepared
  /// (sqlite3_errmsg(db) tells why).
  bool Prepare(sqlite3* db);

  /// Stages frame `index` of the batch as row `id` of `frames`, and its
  /// housekeeping values, when it has any, as the row of `record`.
  void Stage(const ArchiveBatch& batch, std::size_t index, std::int64_t id, RecordKind record);
  /// Inserts the staged rows of `batch`: with `all` every one, else only whole
  /// groups of rows, leaving the rest staged. False when an INSERT fails.
  bool Insert(const ArchiveBatch& batch, bool all);
  /// Forgets the staged rows: their transaction was rolled back.
  void Clear();

 private:
  std::vector<StagedRow> frames_;
  std::array<std::vector<StagedRow>, 2> records_;  // power, system
  SqliteStatement add_frame_;
  SqliteStatement add_frames_;                  // a group of rows
  std::array<SqliteStatement, 2> add_record_;   // power, system
  std::array<SqliteStatement, 2> add_records_;  // a group of rows
};

}  // namespace zevrin
