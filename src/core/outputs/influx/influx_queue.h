#pragma once
// The points waiting for the InfluxDB feed, in the archive's influx_points
// table: added in the transaction that archives their record, so that nothing
// is lost when the database is down or the program ends or is killed, and
// deleted only once the database has taken them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "outputs/archive/sqlite_statement.h"

struct sqlite3;

namespace zevrin {

/// One point waiting: its line of line protocol (ending in '\n').
struct QueuedPoint {
  std::int64_t id = 0;  // grows with the order of reception
  std::string line;
};

class InfluxQueue {
 public:
  /// Opens the archive at `path` with a connection of its own, for the sender.
  /// Nullptr with `error` set when it cannot, or when the archive has no queue
  /// yet (an archive of an older version not written to since).
  static std::unique_ptr<InfluxQueue> Open(const std::string& path, std::string& error);
  /// Works on the archive's own connection, which stays open while this lives.
  explicit InfluxQueue(sqlite3* db);
  ~InfluxQueue();
  InfluxQueue(const InfluxQueue&) = delete;
  InfluxQueue& operator=(const InfluxQueue&) = delete;

  /// The last failure's description.
  const std::string& error() const { return error_; }

  /// Adds a point, inside the transaction open on the connection.
  bool Add(std::string_view line);
  /// The oldest points, at most `count`.
  std::vector<QueuedPoint> Oldest(std::size_t count);
  /// Deletes the points with ids from `first` to `last`: a batch the database took.
  bool Remove(std::int64_t first, std::int64_t last);
  /// The points waiting; -1 when the queue cannot be read.
  std::int64_t Count();

 private:
  InfluxQueue(sqlite3* db, bool owned);
  bool Fail(const char* what);

  sqlite3* db_;
  bool owned_;
  SqliteStatement add_;
  std::string error_;
};

}  // namespace zevrin
