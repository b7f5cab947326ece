#include "outputs/influx/influx_queue.h"

#include <sqlite3.h>

#include <algorithm>

#include "outputs/archive/archive_batch.h"
#include "outputs/archive/archive_columns.h"
#include "outputs/export/line_protocol.h"

namespace zevrin {

namespace {

constexpr int kBusyTimeoutMs = 5000;
constexpr RecordKind kRecords[] = {RecordKind::kPower, RecordKind::kSystem};
// The columns of the record query before the record's own.
constexpr int kLeadingColumns = 3;

// The record's values of a queued frame, its station and time, frame rows ?1 to ?2.
std::string RecordQuery(RecordKind record) {
  std::string sql = "SELECT r.frame_id, f.station, r.received_ms";
  for (const ArchiveColumn* c : RecordColumns(record)) {
    sql += ", r.";
    sql += c->name;
  }
  sql += " FROM influx_points q JOIN stored_frames f ON f.id = q.frame_id JOIN stored_";
  sql += RecordTable(record);
  sql += " r ON r.frame_id = q.frame_id WHERE q.frame_id BETWEEN ?1 AND ?2";
  return sql;
}

// A numeric column as the archive's batch held it.
StoredValue ValueOf(const SqliteStatement& row, int column) {
  StoredValue value;
  if (row.Type(column) == SQLITE_INTEGER) {
    value.type = StoredValue::Type::kInteger;
    value.integer = row.Int64(column);
  } else if (row.Type(column) == SQLITE_FLOAT) {
    value.type = StoredValue::Type::kReal;
    value.real = row.Double(column);
  }
  return value;
}

}  // namespace

std::unique_ptr<InfluxQueue> InfluxQueue::Open(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    error = path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  std::unique_ptr<InfluxQueue> queue(new InfluxQueue(db, true));
  // Fails while the table is missing: the archive makes it when it opens.
  if (SqliteStatement probe(db, "SELECT 1 FROM influx_points LIMIT 0"); !probe.ok()) {
    error = path + ": no queue of points yet (" + sqlite3_errmsg(db) + ")";
    return nullptr;
  }
  return queue;
}

InfluxQueue::InfluxQueue(sqlite3* db) : InfluxQueue(db, false) {}

InfluxQueue::InfluxQueue(sqlite3* db, bool owned) : db_(db), owned_(owned) {}

InfluxQueue::~InfluxQueue() {
  add_.Finalize();
  if (owned_) sqlite3_close(db_);
}

bool InfluxQueue::Fail(const char* what) {
  error_ = std::string(what) + ": " + sqlite3_errmsg(db_);
  return false;
}

bool InfluxQueue::Add(std::int64_t frame_id) {
  if (!add_.ok() && !add_.Prepare(db_, "INSERT OR IGNORE INTO influx_points (frame_id) VALUES (?)",
                                  SqliteStatement::Lifetime::kCached))
    return Fail("queueing a point");
  add_.BindInt64(1, frame_id);
  if (add_.StepOnce() != SQLITE_DONE) return Fail("queueing a point");
  return true;
}

bool InfluxQueue::ReadLines(std::size_t table, std::int64_t first, std::int64_t last,
                            std::vector<QueuedPoint>& points) {
  const RecordKind record = kRecords[table];
  const std::string sql = RecordQuery(record);
  SqliteStatement query(db_, sql.c_str());
  if (!query.ok()) return Fail("reading the points");
  query.BindInt64(1, first);
  query.BindInt64(2, last);
  const std::size_t columns = RecordColumns(record).size();
  std::vector<StoredValue> values(columns);
  int rc = SQLITE_ROW;
  while ((rc = query.Step()) == SQLITE_ROW) {
    for (std::size_t c = 0; c < columns; ++c)
      values[c] = ValueOf(query, kLeadingColumns + static_cast<int>(c));
    const std::string station = query.Text(1);
    const auto at =
        std::lower_bound(points.begin(), points.end(), query.Int64(0),
                         [](const QueuedPoint& point, std::int64_t id) { return point.id < id; });
    if (at != points.end() && at->id == query.Int64(0))
      at->line = LineProtocolOfValues(record, station, query.Int64(2), values);
  }
  return rc == SQLITE_DONE || Fail("reading the points");
}

std::vector<QueuedPoint> InfluxQueue::Oldest(std::size_t count) {
  std::vector<QueuedPoint> points;
  error_.clear();
  // Read in one transaction, so that the queue and the records show one moment.
  sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
  {
    SqliteStatement ids(db_, "SELECT frame_id FROM influx_points ORDER BY frame_id LIMIT ?");
    if (ids.ok()) {
      ids.BindInt64(1, static_cast<std::int64_t>(count));
      while (ids.Step() == SQLITE_ROW) points.push_back({ids.Int64(0), {}});
    } else {
      Fail("reading the points");
    }
  }
  for (std::size_t table = 0; table < std::size(kRecords) && !points.empty(); ++table) {
    if (!ReadLines(table, points.front().id, points.back().id, points)) points.clear();
  }
  sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  return points;
}

bool InfluxQueue::Remove(std::int64_t first, std::int64_t last) {
  SqliteStatement remove(db_, "DELETE FROM influx_points WHERE frame_id BETWEEN ? AND ?");
  if (!remove.ok()) return Fail("deleting sent points");
  remove.BindInt64(1, first);
  remove.BindInt64(2, last);
  if (remove.Step() != SQLITE_DONE) return Fail("deleting sent points");
  error_.clear();
  return true;
}

std::int64_t InfluxQueue::Count() {
  SqliteStatement query(db_, "SELECT count(*) FROM influx_points");
  if (!query.ok() || query.Step() != SQLITE_ROW) {
    Fail("counting the points");
    return -1;
  }
  return query.Int64(0);
}

}  // namespace zevrin
