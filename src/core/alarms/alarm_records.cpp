#include "alarms/alarm_records.h"

#include <sqlite3.h>

#include "alarms/alarm_rules.h"
#include "outputs/archive/sqlite_statement.h"

namespace zevrin {

namespace {

constexpr char kAlarmsSql[] =
    "SELECT rule, severity, message, value, raised_ms, cleared_ms, acknowledged_ms "
    "FROM stored_alarms WHERE raised_ms < ?2 AND (cleared_ms IS NULL OR cleared_ms >= ?1) "
    "ORDER BY raised_ms DESC, id DESC LIMIT ?3";

std::optional<std::int64_t> OptionalInt64(const SqliteStatement& s, int column) {
  if (s.IsNull(column)) return std::nullopt;
  return s.Int64(column);
}

// The value a rule watches, as its text names it: parsed again, as the archive
// keeps the rule as written.
std::string ValueOfRule(const std::string& rule) {
  const AlarmRules parsed = ParseAlarmRules(rule, "");
  if (parsed.rules.empty() || parsed.rules[0].value < 0) return {};
  return parsed.values[static_cast<std::size_t>(parsed.rules[0].value)];
}

}  // namespace

AlarmRecordReader::~AlarmRecordReader() { Close(); }

void AlarmRecordReader::Close() {
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool AlarmRecordReader::EnsureOpen() {
  if (db_ != nullptr) return true;
  db_ = OpenForReading(path_, error_);
  return db_ != nullptr;
}

std::vector<AlarmRecord> AlarmRecordReader::Read(std::int64_t from_ms, std::int64_t to_ms,
                                                 std::size_t limit) {
  std::vector<AlarmRecord> records;
  if (!EnsureOpen()) return records;
  SqliteStatement query(db_, kAlarmsSql);
  if (!query.ok()) {
    // No alarm has been raised into this archive yet: its table is still to come.
    error_ = sqlite3_errmsg(db_);
    return records;
  }
  query.BindInt64(1, from_ms);
  query.BindInt64(2, to_ms);
  query.BindInt64(3, static_cast<std::int64_t>(limit));
  int rc;
  while ((rc = query.Step()) == SQLITE_ROW) {
    AlarmRecord& r = records.emplace_back();
    r.rule = query.Text(0);
    r.severity = query.Text(1);
    r.message = query.Text(2);
    if (!query.IsNull(3)) r.value = query.Double(3);
    r.raised_ms = query.Int64(4);
    r.cleared_ms = OptionalInt64(query, 5);
    r.acknowledged_ms = OptionalInt64(query, 6);
    r.value_name = ValueOfRule(r.rule);
  }
  error_ = rc == SQLITE_DONE ? std::string() : std::string(sqlite3_errmsg(db_));
  if (rc != SQLITE_DONE) records.clear();
  return records;
}

}  // namespace zevrin
