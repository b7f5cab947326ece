#include "outputs/influx/influx_queue.h"

#include <sqlite3.h>

namespace zevrin {

namespace {

constexpr int kBusyTimeoutMs = 5000;

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
  SqliteStatement probe(db, "SELECT 1 FROM influx_points LIMIT 0");
  if (!probe.ok()) {
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

bool InfluxQueue::Add(std::string_view line) {
  if (!add_.ok() && !add_.Prepare(db_, "INSERT INTO influx_points (line) VALUES (?)",
                                  SqliteStatement::Lifetime::kCached))
    return Fail("queueing a point");
  add_.BindText(1, line);
  if (add_.StepOnce() != SQLITE_DONE) return Fail("queueing a point");
  return true;
}

std::vector<QueuedPoint> InfluxQueue::Oldest(std::size_t count) {
  std::vector<QueuedPoint> points;
  SqliteStatement query(db_, "SELECT id, line FROM influx_points ORDER BY id LIMIT ?");
  if (!query.ok()) {
    Fail("reading the points");
    return points;
  }
  query.BindInt64(1, static_cast<std::int64_t>(count));
  int rc = SQLITE_ROW;
  while ((rc = query.Step()) == SQLITE_ROW) points.push_back({query.Int64(0), query.Text(1)});
  if (rc != SQLITE_DONE) Fail("reading the points");
  return points;
}

bool InfluxQueue::Remove(std::int64_t first, std::int64_t last) {
  SqliteStatement remove(db_, "DELETE FROM influx_points WHERE id BETWEEN ? AND ?");
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
