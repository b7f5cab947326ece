#include "alarms/alarm_archive.h"

#include <sqlite3.h>

#include <string>

#include "outputs/archive/archive_schema.h"
#include "outputs/archive/sqlite_statement.h"

namespace zevrin {

namespace {

std::string TablesSql() {
  return "CREATE TABLE IF NOT EXISTS stored_alarms ("
         "id INTEGER PRIMARY KEY, rule TEXT NOT NULL, severity TEXT NOT NULL, message TEXT, "
         "value REAL, raised_ms INTEGER NOT NULL, cleared_ms INTEGER, clear_value REAL, "
         "acknowledged_ms INTEGER, frame_received_ms INTEGER, frame_bytes BLOB, "
         "UNIQUE (rule, raised_ms));\n"
         "CREATE VIEW IF NOT EXISTS alarms AS SELECT id, rule, severity, message, value, "
         "raised_ms, " +
         UtcTextSql("raised_ms") + " AS raised, cleared_ms, " + UtcTextSql("cleared_ms") +
         " AS cleared, clear_value, acknowledged_ms, " + UtcTextSql("acknowledged_ms") +
         " AS acknowledged, (SELECT f.id FROM stored_frames f WHERE f.received_ms = "
         "frame_received_ms AND f.bytes = frame_bytes) AS frame_id FROM stored_alarms;\n";
}

// What one change writes: a new row for a raise, the row of the raise for the
// others.
struct AlarmRow {
  AlarmChange change;
  std::string rule;
  std::string severity;
  std::string message;
  bool has_value;
  double value;
  std::int64_t raised_ms;
  std::int64_t time_ms;
  std::int64_t frame_ms;
  std::vector<std::uint8_t> frame;
};

constexpr const char* kRowSql[] = {
    // kRaised
    ("INSERT OR IGNORE INTO stored_alarms (rule, severity, message, value, raised_ms, "
     "frame_received_ms, frame_bytes) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)"),
    // kCleared
    ("UPDATE stored_alarms SET cleared_ms = ?6, clear_value = ?4 WHERE rule = ?1 AND raised_ms = "
     "?5 "
     "AND cleared_ms IS NULL"),
    // kAcknowledged
    "UPDATE stored_alarms SET acknowledged_ms = ?6 WHERE rule = ?1 AND raised_ms = ?5",
};

bool WriteRow(sqlite3* db, const AlarmRow& row) {
  std::string error;
  if (!ExecSql(db, TablesSql(), error)) return false;
  SqliteStatement s;
  if (!s.Prepare(db, kRowSql[static_cast<int>(row.change)])) return false;
  s.BindText(1, row.rule);
  if (row.change == AlarmChange::kRaised) {
    s.BindText(2, row.severity);
    s.BindText(3, row.message);
    if (!row.frame.empty()) {
      s.BindInt64(6, row.frame_ms);
      s.BindBlob(7, row.frame);
    }
  } else {
    s.BindInt64(6, row.time_ms);
  }
  if (row.has_value) s.BindDouble(4, row.value);
  s.BindInt64(5, row.raised_ms);
  return s.StepOnce() == SQLITE_DONE;
}

}  // namespace

void AlarmArchive::AlarmChanged(const AlarmEvent& event) {
  if (event.rule_index >= open_.size()) open_.resize(event.rule_index + 1);
  Open& open = open_[event.rule_index];
  if (event.change == AlarmChange::kRaised) open = {true, event.time_ms, event.rule->text};
  if (event.change == AlarmChange::kCleared) open.raised = false;
  const std::int64_t raised_ms = open.raised_ms;
  const AlarmRule& rule = *event.rule;
  AlarmRow row{event.change,
               rule.text,
               std::string(AlarmSeverityName(rule.severity)),
               rule.message,
               event.has_value,
               event.value,
               raised_ms,
               event.time_ms,
               event.frame_received_ms,
               {event.frame_bytes.begin(), event.frame_bytes.end()}};
  archive_.Post([row = std::move(row)](sqlite3* db) { return WriteRow(db, row); });
}

void AlarmArchive::EndWatching(std::int64_t when_ms) {
  for (Open& open : open_) {
    if (!open.raised) continue;
    open.raised = false;
    AlarmRow row{AlarmChange::kCleared, open.rule, {}, {}, false, 0,
                 open.raised_ms,        when_ms,   0,  {}};
    archive_.Post([row = std::move(row)](sqlite3* db) { return WriteRow(db, row); });
  }
}

}  // namespace zevrin
