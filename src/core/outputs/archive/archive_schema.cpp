#include "outputs/archive/archive_schema.h"

#include <sqlite3.h>

#include <iterator>
#include <string_view>

#include "outputs/archive/archive_columns.h"
#include "outputs/archive/archive_writer.h"
#include "outputs/archive/sqlite_statement.h"

namespace zevrin {

namespace {

// The time as text for people: SQLite's own format, so that its date functions
// take it. It is worked out from received_ms in the views, when read: as a
// generated column of the tables SQLite would work it out on every INSERT too,
// which costs a sixth of the time of a replay.
const std::string kReceivedExpression = UtcTextSql("received_ms");

}  // namespace

std::string UtcTextSql(std::string_view ms_column) {
  const std::string c(ms_column);
  return "datetime(" + c + " / 1000, 'unixepoch') || '.' || substr(" + c + " % 1000 + 1000, 2)";
}

namespace {

std::string StoredTable(std::string_view table) { return "stored_" + std::string(table); }

std::string ColumnType(ValueKind kind) {
  switch (kind) {
    case ValueKind::kReal:
      return "REAL";
    case ValueKind::kText:
      return "TEXT";
    default:
      return "INTEGER";
  }
}

// The views that show the stored rows under the names people query, with the
// time as text beside received_ms; their columns are in the order of version 1's
// tables, later ones after them.
std::string ViewsSql() {
  std::string sql = "CREATE VIEW frames AS SELECT id, received_ms, ";
  sql += kReceivedExpression;
  sql += " AS received, station, link, bytes, time_source FROM stored_frames;\n";
  for (const RecordKind record : {RecordKind::kPower, RecordKind::kSystem}) {
    const std::string table(RecordTable(record));
    sql += "CREATE VIEW " + table + " AS SELECT frame_id, received_ms, ";
    sql += kReceivedExpression;
    sql += " AS received";
    for (const ArchiveColumn* c : RecordColumns(record)) {
      sql += ", ";
      sql += c->name;
    }
    sql += " FROM " + StoredTable(table) + ";\n";
  }
  return sql;
}

// The records waiting for the InfluxDB feed: the rows of their frames, whose
// records the feed reads when it sends them.
std::string InfluxPointsSql() {
  return "CREATE TABLE IF NOT EXISTS influx_points (\n"
         "  frame_id INTEGER PRIMARY KEY REFERENCES stored_frames (id)\n"
         ");\n";
}

std::string VersionSql() {
  return "PRAGMA user_version = " + std::to_string(kArchiveSchemaVersion) + ";\n";
}

std::string CreateSql() {
  std::string sql =
      "CREATE TABLE stored_frames (\n"
      "  id INTEGER PRIMARY KEY,\n"
      "  received_ms INTEGER NOT NULL,\n"
      "  station TEXT NOT NULL,\n"
      "  link TEXT NOT NULL,\n"
      "  bytes BLOB NOT NULL,\n"
      "  time_source TEXT\n"
      ");\n"
      "CREATE INDEX frames_by_time ON stored_frames (received_ms);\n";
  for (const RecordKind record : {RecordKind::kPower, RecordKind::kSystem}) {
    const std::string table(RecordTable(record));
    sql += "CREATE TABLE " + StoredTable(table) +
           " (\n"
           "  frame_id INTEGER PRIMARY KEY REFERENCES stored_frames (id),\n"
           "  received_ms INTEGER NOT NULL";
    for (const ArchiveColumn* c : RecordColumns(record)) {
      sql += ",\n  ";
      sql += c->name;
      sql += ' ';
      sql += ColumnType(c->kind);
    }
    sql +=
        "\n);\nCREATE INDEX " + table + "_by_time ON " + StoredTable(table) + " (received_ms);\n";
  }
  return sql + ViewsSql() + InfluxPointsSql() + VersionSql();
}

// The tables' names under which people query the rows: views from version 2 on.
constexpr std::string_view kViewNames[] = {"frames", kPowerTable, kSystemTable};

// Version 1 kept the rows in tables named like today's views, with the time as
// text in a generated column. The tables are renamed (SQLite follows the
// renaming in the references to them) and lose that column.
std::string Version1To2Sql() {
  std::string sql;
  for (const std::string_view table : kViewNames) {
    sql += "ALTER TABLE " + std::string(table) + " RENAME TO " + StoredTable(table) + ";\n";
    sql += "ALTER TABLE " + StoredTable(table) + " DROP COLUMN received;\n";
  }
  return sql;
}

// Version 3 tells where each frame's time came from. Older archives never said,
// so their frames are left without a source (NULL), live or replayed alike.
std::string Version2To3Sql() { return "ALTER TABLE stored_frames ADD COLUMN time_source TEXT;\n"; }

// One step per version, from the version it starts at; the steps from an
// archive's version on run in order, then the views are made afresh.
struct MigrationStep {
  int from;
  std::string (*sql)();
};
constexpr MigrationStep kMigrationSteps[] = {
    {1, Version1To2Sql}, {2, Version2To3Sql}, {3, InfluxPointsSql}};
static_assert(std::size(kMigrationSteps) == kArchiveSchemaVersion - 1);

std::string MigrateSql(std::int64_t version) {
  std::string sql;
  for (const MigrationStep& step : kMigrationSteps) {
    if (step.from >= version) sql += step.sql();
  }
  for (const std::string_view view : kViewNames) {
    sql += "DROP VIEW IF EXISTS " + std::string(view) + ";\n";
  }
  return sql + ViewsSql() + VersionSql();
}

// One integer from a query, or -1.
std::int64_t QueryInteger(sqlite3* db, const char* sql) {
  SqliteStatement query(db, sql);
  return query.ok() && query.Step() == SQLITE_ROW ? query.Int64(0) : -1;
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
  if (version == 0 && tables == 0) return ExecSql(db, CreateSql(), error);
  if (!CheckSchemaVersion(db, error)) return false;
  if (version < kArchiveSchemaVersion) return ExecSql(db, MigrateSql(version), error);
  return true;
}

std::string RecordInsertSql(RecordKind record, int rows) {
  std::string sql = "INSERT INTO " + StoredTable(RecordTable(record)) + " (frame_id, received_ms";
  std::string values = "(?, ?";
  for (const ArchiveColumn* c : RecordColumns(record)) {
    sql += ", ";
    sql += c->name;
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
  std::string sql =
      "INSERT INTO stored_frames (id, received_ms, station, link, bytes, time_source) VALUES ";
  for (int row = 0; row < rows; ++row) {
    if (row > 0) sql += ", ";
    sql += "(?, ?, ?, ?, ?, ?)";
  }
  return sql;
}

}  // namespace zevrin
