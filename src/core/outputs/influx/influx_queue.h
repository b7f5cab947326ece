#pragma once
// The records waiting for the InfluxDB feed: the archive's influx_points table
// holds the row of each record's frame, added in the transaction that archives
// the record, so that nothing is lost when the database is down or the program
// ends or is killed. The line of a point is made from the archived record when it
// is sent, and the row is deleted only once the database has taken the point.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "outputs/archive/sqlite_statement.h"

struct sqlite3;

namespace zevrin {

/// One point waiting: its frame's row, and its line of line protocol (ending in
/// '\n'; empty when the record has no value to send).
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

  /// Queues the record of the frame in row `frame_id`, inside the transaction
  /// open on the connection.
  bool Add(std::int64_t frame_id);
  /// The oldest points, at most `count`, oldest first.
  std::vector<QueuedPoint> Oldest(std::size_t count);
  /// Deletes the points from frame row `first` to `last`: a batch the database took.
  bool Remove(std::int64_t first, std::int64_t last);
  /// The points waiting; -1 when the queue cannot be read.
  std::int64_t Count();

 private:
  InfluxQueue(sqlite3* db, bool owned);
  bool Fail(const char* what);
  // Adds the lines of the records of one table, frame rows `first` to `last`.
  bool ReadLines(std::size_t table, std::int64_t first, std::int64_t last,
                 std::vector<QueuedPoint>& points);

  sqlite3* db_;
  bool owned_;
  SqliteStatement add_;
  std::string error_;
};

}  // namespace zevrin
