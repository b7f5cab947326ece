#include "archive/archive_schema.h"

#include <sqlite3.h>

#include "archive/archive_columns.h"
#include "archive/archive_writer.h"

namespace zevrin {

namespace {

// The time as text for people, computed from the stored milliseconds and not
// stored itself: SQLite's own format, so its date functions take it. SQLite
// works the expression out on every INSERT too, so it is the cheap form of
// strftime('%Y-%m-%d %H:%M:%f', received_ms / 1000.0, 'unixepoch') (archives
// made before hold that form; both give the same text for every time after 1970).
constexpr const char* kReceivedColumn =
    "received TEXT GENERATED ALWAYS AS "
    "(datetime(received_ms / 1000, 'unixepoch') || '.' || substr(received_ms % 1000 + 1000, 2)) "
    "VIRTUAL";

std::string CreateSql() {
  std::string sql =
      "CREATE TABLE frames (\n"
      "  id INTEGER PRIMARY KEY,\n"
      "  received_ms INTEGER NOT NULL,\n  ";
  sql += kReceivedColumn;
  sql +=
      ",\n"
      "  station TEXT NOT NULL,\n"
      "  link TEXT NOT NULL,\n"
      "  bytes BLOB NOT NULL\n"
      ");\n"
      "CREATE INDEX frames_by_time ON frames (received_ms);\n";
  for (const RecordKind record : {RecordKind::kPower, RecordKind::kSystem}) {
    const std::string table(RecordTable(record));
    sql += "CREATE TABLE " + table +
           " (\n"
           "  frame_id INTEGER PRIMARY KEY REFERENCES frames (id),\n"
           "  received_ms INTEGER NOT NULL,\n  ";
    sql += kReceivedColumn;
    for (const ArchiveColumn& c : ArchiveColumns()) {
      if (c.record != record) continue;
      sql += ",\n  ";
      sql += c.name;
      switch (c.kind) {
        case ValueKind::kReal:
          sql += " REAL";
          break;
        case ValueKind::kText:
          sql += " TEXT";
          break;
        default:
          sql += " INTEGER";
          break;
      }
    }
    sql += "\n);\nCREATE INDEX " + table + "_by_time ON " + table + " (received_ms);\n";
  }
  sql += "PRAGMA user_version = " + std::to_string(kArchiveSchemaVersion) + ";\n";
  return sql;
}

// One integer from a query, or -1.
std::int64_t QueryInteger(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  std::int64_t value = -1;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    value = sqlite3_column_int64(stmt, 0);
  }
  sqlite3_finalize(stmt);
  return value;
}

}  // namespace

bool CheckSchemaVersion(sqlite3* db, std::string& error) {
  const std::int64_t version = QueryInteger(db, "PRAGMA user_version");
  if (version < 0) {
    error = sqlite3_errmsg(db);
    return false;
  }
  if (version > kArchiveSchemaVersion) {
    error = "made by a newer version of the program (schema " + std::to_string(version) + ")";
    return false;
  }
  if (version < 1) {
    error = "not an archive of this program";
    return false;
  }
  return true;
}

bool IsEmptyOrArchive(sqlite3* db, std::string& error) {
  const std::int64_t version = QueryInteger(db, "PRAGMA user_version");
  const std::int64_t tables = QueryInteger(db, "SELECT count(*) FROM sqlite_schema");
  if (version < 0 || tables < 0) {
    error = sqlite3_errmsg(db);
    return false;
  }
  return (version == 0 && tables == 0) || CheckSchemaVersion(db, error);
}

bool PrepareSchema(sqlite3* db, std::string& error) {
  const std::int64_t version = QueryInteger(db, "PRAGMA user_version");
  const std::int64_t tables = QueryInteger(db, "SELECT count(*) FROM sqlite_schema");
  if (version < 0 || tables < 0) {
    error = sqlite3_errmsg(db);
    return false;
  }
  if (version == 0 && tables == 0) {
    char* message = nullptr;
    if (sqlite3_exec(db, CreateSql().c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      error = message != nullptr ? message : sqlite3_errmsg(db);
      sqlite3_free(message);
      return false;
    }
    return true;
  }
  return CheckSchemaVersion(db, error);
}

std::string RecordInsertSql(RecordKind record, int rows) {
  std::string sql = "INSERT INTO " + std::string(RecordTable(record)) + " (frame_id, received_ms";
  std::string values = "(?, ?";
  for (const ArchiveColumn& c : ArchiveColumns()) {
    if (c.record != record) continue;
    sql += ", ";
    sql += c.name;
    values += ", ?";
  }
  values += ')';
  sql += ") VALUES ";
  for (int row = 0; row < rows; ++row) {
    if (row > 0) sql += ", ";
    sql += values;
  }
  return sql;
}

std::string FrameInsertSql(int rows) {
  std::string sql = "INSERT INTO frames (id, received_ms, station, link, bytes) VALUES ";
  for (int row = 0; row < rows; ++row) {
    if (row > 0) sql += ", ";
    sql += "(?, ?, ?, ?, ?)";
  }
  return sql;
}

}  // namespace zevrin
