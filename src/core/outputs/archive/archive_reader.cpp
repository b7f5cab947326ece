#include "outputs/archive/archive_reader.h"

#include <sqlite3.h>

#include "outputs/archive/archive_schema.h"
#include "outputs/archive/sqlite_statement.h"

namespace zevrin {

namespace {

// The query of one column; column names come from the fixed table only.
std::string SeriesSql(const ArchiveColumn& column, const char* tail) {
  std::string sql = "SELECT received_ms, ";
  sql += column.name;
  sql += " FROM ";
  sql += RecordTable(column.record);
  sql += " WHERE ";
  sql += column.name;
  sql += " IS NOT NULL";
  sql += tail;
  return sql;
}

}  // namespace

ArchiveReader::~ArchiveReader() { Close(); }

bool ArchiveReader::Open(const std::string& path) {
  Close();
  db_ = OpenForReading(path, error_);
  if (db_ == nullptr) return false;
  if (!CheckSchemaVersion(db_, error_)) {
    Close();
    return false;
  }
  error_.clear();
  return true;
}

void ArchiveReader::Close() {
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

std::vector<SeriesPoint> ArchiveReader::Series(const ArchiveColumn& column, std::int64_t from_ms,
                                               std::int64_t to_ms) {
  std::vector<SeriesPoint> points;
  if (db_ == nullptr || !column.numeric()) return points;
  const std::string sql =
      SeriesSql(column, " AND received_ms BETWEEN ?1 AND ?2 ORDER BY received_ms, frame_id");
  SqliteStatement query(db_, sql.c_str());
  if (!query.ok()) {
    error_ = sqlite3_errmsg(db_);
    return points;
  }
  query.BindInt64(1, from_ms);
  query.BindInt64(2, to_ms);
  int rc;
  while ((rc = query.Step()) == SQLITE_ROW) points.push_back({query.Int64(0), query.Double(1)});
  if (rc != SQLITE_DONE) {
    error_ = sqlite3_errmsg(db_);
    points.clear();
  }
  return points;
}

std::optional<SeriesPoint> ArchiveReader::Last(const ArchiveColumn& column) {
  if (db_ == nullptr || !column.numeric()) return std::nullopt;
  const std::string sql = SeriesSql(column, " ORDER BY received_ms DESC, frame_id DESC LIMIT 1");
  SqliteStatement query(db_, sql.c_str());
  if (!query.ok()) {
    error_ = sqlite3_errmsg(db_);
    return std::nullopt;
  }
  if (query.Step() != SQLITE_ROW) return std::nullopt;
  return SeriesPoint{query.Int64(0), query.Double(1)};
}

}  // namespace zevrin
