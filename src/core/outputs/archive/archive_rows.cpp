#include "outputs/archive/archive_rows.h"

#include "outputs/archive/archive_schema.h"

namespace zevrin {

namespace {

// Rows given to SQLite in one INSERT: a statement for many rows saves most of
// the work SQLite does per statement.
constexpr std::size_t kRowsPerInsert = 16;

constexpr auto kCached = SqliteStatement::Lifetime::kCached;

using StagedRow = ArchiveRows::StagedRow;

std::size_t RecordSlot(RecordKind record) { return record == RecordKind::kPower ? 0 : 1; }

// Binds the `frames` row of a staged frame from parameter `param` on; returns
// the next parameter.
int BindFrame(SqliteStatement& stmt, int param, const ArchiveBatch& batch, const StagedRow& row) {
  const DecodedFrame frame = batch.Frame(row.index);
  stmt.BindInt64(param, row.id);
  stmt.BindInt64(param + 1, frame.received_ms);
  stmt.BindText(param + 2, frame.station);
  stmt.BindText(param + 3, frame.link);
  stmt.BindBlob(param + 4, frame.bytes);
  stmt.BindText(param + 5, TimeSourceName(frame.time_source));
  return param + 6;
}

// Binds the housekeeping row of a staged frame, the same way.
int BindRecord(SqliteStatement& stmt, int param, const ArchiveBatch& batch, const StagedRow& row) {
  stmt.BindInt64(param++, row.id);
  stmt.BindInt64(param++, batch.Time(row.index));
  for (const StoredValue& v : batch.Values(row.index)) {
    switch (v.type) {
      case StoredValue::Type::kNull:
        stmt.BindNull(param);
        break;
      case StoredValue::Type::kInteger:
        stmt.BindInt64(param, v.integer);
        break;
      case StoredValue::Type::kReal:
        stmt.BindDouble(param, v.real);
        break;
      case StoredValue::Type::kText:
        stmt.BindText(param, batch.Text(v));
        break;
    }
    ++param;
  }
  return param;
}

// Inserts the staged rows: whole groups through `many`, and with `all` the rest
// one by one through `one`. Inserted rows leave `rows`.
template <typename Bind>
bool InsertRows(std::vector<StagedRow>& rows, bool all, SqliteStatement& one, SqliteStatement& many,
                const ArchiveBatch& batch, Bind bind) {
  std::size_t done = 0;
  for (; rows.size() - done >= kRowsPerInsert; done += kRowsPerInsert) {
    int param = 1;
    for (std::size_t k = 0; k < kRowsPerInsert; ++k) {
      param = bind(many, param, batch, rows[done + k]);
    }
    if (many.StepOnce() != SQLITE_DONE) return false;
  }
  for (; all && done < rows.size(); ++done) {
    bind(one, 1, batch, rows[done]);
    if (one.StepOnce() != SQLITE_DONE) return false;
  }
  rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(done));
  return true;
}

}  // namespace

bool ArchiveRows::Prepare(sqlite3* db) {
  bool ok =
      add_frames_.Prepare(db, FrameInsertSql(static_cast<int>(kRowsPerInsert)).c_str(), kCached) &&
      add_frame_.Prepare(db, FrameInsertSql().c_str(), kCached);
  for (const RecordKind record : {RecordKind::kPower, RecordKind::kSystem}) {
    const std::size_t slot = RecordSlot(record);
    const std::string many = RecordInsertSql(record, static_cast<int>(kRowsPerInsert));
    ok = ok && add_record_[slot].Prepare(db, RecordInsertSql(record).c_str(), kCached) &&
         add_records_[slot].Prepare(db, many.c_str(), kCached);
  }
  return ok;
}

void ArchiveRows::Stage(const ArchiveBatch& batch, std::size_t index, std::int64_t id,
                        RecordKind record) {
  frames_.push_back({index, id});
  if (!batch.Values(index).empty()) records_[RecordSlot(record)].push_back({index, id});
}

bool ArchiveRows::Insert(const ArchiveBatch& batch, bool all) {
  bool ok = InsertRows(frames_, all, add_frame_, add_frames_, batch, BindFrame);
  for (std::size_t slot = 0; slot < records_.size(); ++slot) {
    ok = ok &&
         InsertRows(records_[slot], all, add_record_[slot], add_records_[slot], batch, BindRecord);
  }
  return ok;
}

void ArchiveRows::Clear() {
  frames_.clear();
  for (std::vector<StagedRow>& rows : records_) rows.clear();
}

}  // namespace zevrin
