#pragma once
// The queue of frames waiting to be shared, kept in an SQLite file so that nothing
// waiting is lost when the network is down, the program ends or is killed. One row
// per frame and server; a row goes when that server has taken the frame, and stays
// marked as refused when the server refused it. A server's rows are keyed by its
// address without its password (WithoutPassword); every function here takes the
// address as the settings give it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace zevrin {

/// One frame waiting for one server.
struct QueuedRequest {
  std::int64_t frame_id = 0;  // grows with the order of reception
  std::string form;           // the request body, built when the frame was received
  int tries = 0;              // failed tries so far
};

/// How many frames a server has left.
struct QueueCounts {
  std::int64_t waiting = 0;
  std::int64_t refused = 0;
};

class ShareQueue {
 public:
  /// Opens the SQLite file at `path` with a connection of its own. With `create`
  /// the file and the queue's tables are made when missing (WAL mode); without it
  /// they must be there already (the archive makes them). Nullptr and `error` set
  /// when it cannot.
  static std::unique_ptr<ShareQueue> Open(const std::string& path, std::string& error,
                                          bool create = true);
  /// Works on a connection that someone else owns and keeps open while this object
  /// lives; creates the queue's tables there. `ok()` tells whether that worked.
  explicit ShareQueue(sqlite3* db);
  ~ShareQueue();
  ShareQueue(const ShareQueue&) = delete;
  ShareQueue& operator=(const ShareQueue&) = delete;

  bool ok() const { return error_.empty(); }
  /// The last failure's description.
  const std::string& error() const { return error_; }

  /// Queues a frame for every server in `servers`, as `frame_id` when given (the
  /// archive's row of the frame; ids must grow with the order of reception). When a
  /// transaction is open on the connection (the archive writing the same frame),
  /// the rows join it; otherwise they are written in one transaction of their own.
  bool Enqueue(std::string_view received, std::string_view form,
               const std::vector<std::string>& servers,
               std::optional<std::int64_t> frame_id = std::nullopt);
  /// The oldest frame that `server` has neither taken nor refused.
  std::optional<QueuedRequest> Oldest(std::string_view server);
  /// The server took the frame: its row goes, and the frame with it once no server
  /// has it left.
  bool MarkSent(std::int64_t frame_id, std::string_view server);
  /// The server refused the frame: kept with `answer`, never tried again.
  bool MarkRefused(std::int64_t frame_id, std::string_view server, std::string_view answer);
  /// A try failed in a way that may pass (server error, time-out, no network).
  bool MarkFailed(std::int64_t frame_id, std::string_view server, std::string_view problem);
  QueueCounts Counts(std::string_view server);
  /// The last answers of the refused frames of `server`, oldest first.
  std::vector<std::string> RefusedAnswers(std::string_view server);

 private:
  ShareQueue(sqlite3* db, bool owned, bool create);
  // Older versions keyed rows by the whole address, password and all: such rows
  // move to the key without it (a frame the new key has already is dropped).
  bool ForgetPasswords();
  bool Exec(const char* sql);
  bool Step(const char* sql, std::int64_t frame_id, std::string_view server,
            std::string_view text = {});
  bool Fail(const char* what);

  sqlite3* db_;
  bool owned_;
  std::string error_;
};

}  // namespace zevrin
