#include "outputs/share/share_queue.h"

#include <sqlite3.h>

#include "outputs/archive/sqlite_statement.h"
#include "outputs/share/share_settings.h"

namespace zevrin {

namespace {

constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS share_frames("
    " id INTEGER PRIMARY KEY,"
    " received TEXT NOT NULL,"
    " form TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS share_queue("
    " frame_id INTEGER NOT NULL REFERENCES share_frames(id),"
    " server TEXT NOT NULL,"
    " refused INTEGER NOT NULL DEFAULT 0,"
    " tries INTEGER NOT NULL DEFAULT 0,"
    " answer TEXT,"
    " PRIMARY KEY(server, frame_id)) WITHOUT ROWID;";

}  // namespace

std::unique_ptr<ShareQueue> ShareQueue::Open(const std::string& path, std::string& error,
                                             bool create) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "cannot open");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // WAL: the program and the sending thread use the file at once, and a killed
  // program leaves every committed frame behind.
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
               nullptr);
  std::unique_ptr<ShareQueue> queue(new ShareQueue(db, true, create));
  if (!queue->ok()) {
    error = path + ": " + queue->error();
    return nullptr;
  }
  return queue;
}

ShareQueue::ShareQueue(sqlite3* db) : ShareQueue(db, false, true) {}

ShareQueue::ShareQueue(sqlite3* db, bool owned, bool create) : db_(db), owned_(owned) {
  if (create) {
    if (Exec(kSchema)) ForgetPasswords();
  } else {
    Exec("SELECT 1 FROM share_queue LIMIT 0");  // fails while the table is missing
  }
}

bool ShareQueue::ForgetPasswords() {
  std::vector<std::string> keys;
  {
    SqliteStatement query(db_,
                          "SELECT DISTINCT server FROM share_queue WHERE server GLOB '*://*:*@*'");
    if (!query.ok()) return Fail("reading the queue");
    while (query.Step() == SQLITE_ROW) {
      std::string key = query.Text(0);
      if (WithoutPassword(key) != key) keys.push_back(std::move(key));
    }
  }
  SqliteStatement move(db_, "UPDATE OR IGNORE share_queue SET server = ?2 WHERE server = ?1");
  SqliteStatement drop(db_, "DELETE FROM share_queue WHERE server = ?1");
  if (!move.ok() || !drop.ok()) return Fail("updating the queue");
  for (const std::string& key : keys) {
    move.Reset();
    move.BindTextCopy(1, key);
    move.BindTextCopy(2, WithoutPassword(key));
    drop.Reset();
    drop.BindTextCopy(1, key);
    if (move.Step() != SQLITE_DONE || drop.Step() != SQLITE_DONE) return Fail("updating the queue");
  }
  return true;
}

ShareQueue::~ShareQueue() {
  if (owned_) sqlite3_close(db_);
}

bool ShareQueue::Fail(const char* what) {
  error_ = std::string(what) + ": " + sqlite3_errmsg(db_);
  return false;
}

bool ShareQueue::Exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return Fail("queue");
  error_.clear();
  return true;
}

bool ShareQueue::Enqueue(std::string_view received, std::string_view form,
                         const std::vector<std::string>& servers,
                         std::optional<std::int64_t> frame_id) {
  if (servers.empty()) return true;
  const bool own_transaction = sqlite3_get_autocommit(db_) != 0;
  if (own_transaction && !Exec("BEGIN IMMEDIATE")) return false;
  bool ok = false;
  {
    SqliteStatement frame(db_, "INSERT INTO share_frames(received, form, id) VALUES(?, ?, ?)");
    if (frame.ok()) {
      frame.BindTextCopy(1, received);
      frame.BindTextCopy(2, form);
      if (frame_id) frame.BindInt64(3, *frame_id);
      ok = frame.Step() == SQLITE_DONE;
    }
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    SqliteStatement row(db_, "INSERT OR IGNORE INTO share_queue(frame_id, server) VALUES(?, ?)");
    ok = ok && row.ok();
    for (const std::string& server : servers) {
      if (!ok) break;
      row.Reset();
      row.BindInt64(1, id);
      row.BindTextCopy(2, WithoutPassword(server));
      ok = row.Step() == SQLITE_DONE;
    }
  }
  if (!ok) {
    Fail("queueing a frame");
    const std::string reason = error_;
    if (own_transaction) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    error_ = reason;
    return false;
  }
  return own_transaction ? Exec("COMMIT") : (error_.clear(), true);
}

std::optional<QueuedRequest> ShareQueue::Oldest(std::string_view server) {
  SqliteStatement query(db_,
                        "SELECT q.frame_id, f.form, q.tries FROM share_queue q"
                        " JOIN share_frames f ON f.id = q.frame_id"
                        " WHERE q.server = ? AND q.refused = 0 ORDER BY q.frame_id LIMIT 1");
  if (!query.ok()) {
    Fail("reading the queue");
    return std::nullopt;
  }
  query.BindTextCopy(1, WithoutPassword(server));
  const int rc = query.Step();
  if (rc != SQLITE_ROW) {
    if (rc != SQLITE_DONE) Fail("reading the queue");
    return std::nullopt;
  }
  return QueuedRequest{query.Int64(0), query.Text(1), static_cast<int>(query.Int64(2))};
}

bool ShareQueue::Step(const char* sql, std::int64_t frame_id, std::string_view server,
                      std::string_view text) {
  SqliteStatement statement(db_, sql);
  if (!statement.ok()) return Fail("updating the queue");
  statement.BindInt64(1, frame_id);
  statement.BindTextCopy(2, WithoutPassword(server));
  if (statement.Parameters() >= 3) statement.BindTextCopy(3, text);
  if (statement.Step() != SQLITE_DONE) return Fail("updating the queue");
  error_.clear();
  return true;
}

bool ShareQueue::MarkSent(std::int64_t frame_id, std::string_view server) {
  if (!Exec("BEGIN IMMEDIATE")) return false;
  const bool ok =
      Step("DELETE FROM share_queue WHERE frame_id = ? AND server = ?", frame_id, server) &&
      Step(
          "DELETE FROM share_frames WHERE id = ?1 AND ?2 IS NOT NULL AND NOT EXISTS"
          " (SELECT 1 FROM share_queue WHERE frame_id = ?1)",
          frame_id, server);
  if (!ok) {
    const std::string reason = error_;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    error_ = reason;
    return false;
  }
  return Exec("COMMIT");
}

bool ShareQueue::MarkRefused(std::int64_t frame_id, std::string_view server,
                             std::string_view answer) {
  return Step(
      "UPDATE share_queue SET refused = 1, tries = tries + 1, answer = ?3"
      " WHERE frame_id = ?1 AND server = ?2",
      frame_id, server, answer);
}

bool ShareQueue::MarkFailed(std::int64_t frame_id, std::string_view server,
                            std::string_view problem) {
  return Step(
      "UPDATE share_queue SET tries = tries + 1, answer = ?3 WHERE frame_id = ?1 AND server = ?2",
      frame_id, server, problem);
}

QueueCounts ShareQueue::Counts(std::string_view server) {
  QueueCounts counts;
  SqliteStatement query(db_,
                        "SELECT refused, count(*) FROM share_queue WHERE server = ? GROUP BY 1");
  if (!query.ok()) return counts;
  query.BindTextCopy(1, WithoutPassword(server));
  while (query.Step() == SQLITE_ROW) {
    (query.Int64(0) != 0 ? counts.refused : counts.waiting) = query.Int64(1);
  }
  return counts;
}

std::vector<std::string> ShareQueue::RefusedAnswers(std::string_view server) {
  std::vector<std::string> answers;
  SqliteStatement query(db_,
                        "SELECT answer FROM share_queue WHERE server = ? AND refused = 1"
                        " ORDER BY frame_id");
  if (!query.ok()) return answers;
  query.BindTextCopy(1, WithoutPassword(server));
  while (query.Step() == SQLITE_ROW) answers.push_back(query.Text(0));
  return answers;
}

}  // namespace zevrin
