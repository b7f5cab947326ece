#include "outputs/archive/archive_writer.h"

#include <sqlite3.h>

#include <limits>
#include <utility>

#include "outputs/archive/archive_rows.h"
#include "outputs/archive/archive_schema.h"
#include "outputs/archive/checkpointer.h"
#include "outputs/archive/sqlite_statement.h"

namespace zevrin {

namespace {

// How long an archive that could not be opened is left alone before the next try.
constexpr std::chrono::seconds kReopenInterval{5};
constexpr auto kCached = SqliteStatement::Lifetime::kCached;

constexpr const char* kSmallLogPragmas =
    "PRAGMA wal_autocheckpoint=256; PRAGMA journal_size_limit=1048576";

bool IsLock(int code) { return (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED; }
// A failure that passes by itself: another program's lock, a full disk.
bool Passes(int code) { return IsLock(code) || (code & 0xff) == SQLITE_FULL; }

}  // namespace

std::string ArchiveFileName(std::string_view directory, std::string_view station_label) {
  std::string name(directory);
  if (!name.empty() && name.back() != '/') name += '/';
  name += FileNameLabel(station_label);
  name += "_archive.sqlite";
  return name;
}

void TuneSqliteForArchiving() {
  // Refused with SQLITE_MISUSE once SQLite is initialised; harmless then.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

struct ArchiveWriter::Statements {
  SqliteStatement find_frame;
  SqliteStatement latest_frame;
  SqliteStatement next_id;
  ArchiveRows rows;
};

ArchiveWriter::ArchiveWriter(LogProblemListener* listener, ArchiveWriterOptions options)
    : options_(std::move(options)), notices_(LogKind::kArchive, listener) {
  if (options_.batch_frames < 1) options_.batch_frames = 1;
}

ArchiveWriter::~ArchiveWriter() {
  // The listener may be on its way out too: the last frames are written, untold.
  notices_.Silence();
  Close();
}

bool ArchiveWriter::Open(const std::string& path) {
  Close();
  path_ = path;
  notices_.Restart(path_);
  if (OpenDatabase()) return true;
  Failed();
  return false;
}

void ArchiveWriter::Defer(const std::string& path) {
  Close();
  path_ = path;
  notices_.Restart(path_);
  next_open_attempt_ = {};
}

bool ArchiveWriter::OpenDeferred() {
  if (db_ != nullptr) return true;
  if (OpenDatabase()) return true;
  if (!IsLock(failure_code_)) Failed();
  return false;
}

void ArchiveWriter::Close() {
  Flush();
  if (db_ != nullptr) CloseDatabase();
}

bool ArchiveWriter::Exec(const char* sql) { return ExecSql(db_, sql, error_); }

bool ArchiveWriter::OpenDatabase() {
  next_open_attempt_ = std::chrono::steady_clock::now() + kReopenInterval;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(path_.c_str(), &db_, flags,
                                 options_.vfs.empty() ? nullptr : options_.vfs.c_str());
  if (rc != SQLITE_OK) {
    error_ = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    CloseDatabase();
    return false;
  }
  sqlite3_busy_timeout(db_, options_.busy_timeout_ms);
  // SQLite opens a file it may not write read-only, and fails only at the first
  // write: refused here, before any frame is handed over.
  if (sqlite3_db_readonly(db_, "main") == 1) {
    error_ = sqlite3_errstr(SQLITE_READONLY);
    CloseDatabase();
    return false;
  }
  // A file that is not an archive of ours is left exactly as it is: checked
  // before anything is written to it.
  if (!IsEmptyOrArchive(db_, error_)) {
    CloseDatabase();
    return false;
  }
  // WAL with NORMAL synchronisation: a killed program loses nothing committed, a
  // power cut at most the last transactions, and the file stays whole either way.
  // A writer that leaves space to the logs keeps its log small too: copied into
  // the database every megabyte and cut back to that size.
  const bool small_log = options_.reserve_bytes > 0;
  if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=NORMAL") ||
      (small_log && !Exec(kSmallLogPragmas)) || !Exec("BEGIN IMMEDIATE")) {
    CloseDatabase();
    return false;
  }
  bool ok = PrepareSchema(db_, error_);
  for (ArchiveExtension* e : extensions_) {
    if (ok && !e->CreateTables(db_)) {
      error_ = sqlite3_errmsg(db_);
      ok = false;
    }
  }
  ok = ok && Exec("COMMIT") && Prepare();
  if (!ok) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    CloseDatabase();
    return false;
  }
  if (options_.background_checkpoints) {
    // Without the thread, SQLite copies the log itself, as the writer commits.
    auto checkpointer = std::make_unique<ArchiveCheckpointer>();
    if (checkpointer->Start(path_, options_.vfs)) {
      checkpointer_ = std::move(checkpointer);
      checkpointer_->Watch(db_);
    }
  }
  error_.clear();
  return true;
}

bool ArchiveWriter::Prepare() {
  statements_ = std::make_unique<Statements>();
  Statements& s = *statements_;
  const bool ok =
      s.find_frame.Prepare(db_,
                           "SELECT 1 FROM stored_frames WHERE received_ms = ?1 AND bytes = ?2 "
                           "LIMIT 1",
                           kCached) &&
      s.latest_frame.Prepare(db_, "SELECT max(received_ms) FROM stored_frames", kCached) &&
      s.next_id.Prepare(db_, "SELECT coalesce(max(id), 0) + 1 FROM stored_frames", kCached) &&
      s.rows.Prepare(db_);
  if (!ok) error_ = sqlite3_errmsg(db_);
  return ok;
}

void ArchiveWriter::CloseDatabase() {
  // Kept for the caller of a failed open: whether the failure passes.
  if (db_ != nullptr) failure_code_ = sqlite3_errcode(db_);
  statements_.reset();
  if (db_ != nullptr) {
    for (ArchiveExtension* e : extensions_) e->Closing();
  }
  // Closed first, so that the writer's connection is the last one and copies
  // what is left of the log as it closes.
  checkpointer_.reset();
  sqlite3_close_v2(db_);
  db_ = nullptr;
  in_transaction_ = false;
  batch_count_ = 0;
}

bool ArchiveWriter::Begin() {
  if (in_transaction_) return true;
  if (!Exec("BEGIN IMMEDIATE")) return false;
  in_transaction_ = true;
  batch_count_ = 0;
  transaction_duplicates_ = 0;
  // Another program may have added frames since the last transaction.
  latest_known_ = false;
  // Frames get their ids here rather than from SQLite, so that many go in one
  // INSERT; the transaction holds the write lock, so nobody else takes one.
  SqliteStatement& next = statements_->next_id;
  const bool ok = next.Step() == SQLITE_ROW;
  next_id_ = next.Int64(0);
  next.Reset();
  if (!ok) {
    error_ = sqlite3_errmsg(db_);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    in_transaction_ = false;
  }
  return ok;
}

bool ArchiveWriter::InsertStaged(const ArchiveBatch& batch, bool all) {
  return statements_->rows.Insert(batch, all);
}

bool ArchiveWriter::IsAfterLatest(const ArchiveBatch& batch, std::int64_t received_ms) {
  if (!latest_known_) {
    if (!InsertStaged(batch, true)) return false;
    SqliteStatement& latest = statements_->latest_frame;
    if (latest.Step() != SQLITE_ROW) {
      latest.Reset();
      return false;
    }
    // An empty archive gives NULL: every time is later.
    latest_ms_ = latest.IsNull(0) ? std::numeric_limits<std::int64_t>::min() : latest.Int64(0);
    latest.Reset();
    latest_known_ = true;
  }
  return received_ms > latest_ms_;
}

bool ArchiveWriter::Commit() {
  if (!in_transaction_) return true;
  if (!Exec("COMMIT")) return false;
  in_transaction_ = false;
  batch_count_ = 0;
  transaction_duplicates_ = 0;
  return true;
}

void ArchiveWriter::Rollback() {
  // The frames of the batch are gone with it.
  const auto count = static_cast<std::uint64_t>(batch_count_);
  Abandon();
  Missed(count);
}

void ArchiveWriter::Abandon() {
  if (in_transaction_ && sqlite3_get_autocommit(db_) == 0) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  added_ -= static_cast<std::uint64_t>(batch_count_);
  duplicates_ -= transaction_duplicates_;
  in_transaction_ = false;
  batch_count_ = 0;
  transaction_duplicates_ = 0;
  if (statements_) statements_->rows.Clear();
}

void ArchiveWriter::FrameDecoded(const DecodedFrame& frame) {
  pending_.Add(frame);
  if (pending_.size() >= static_cast<std::size_t>(options_.batch_frames)) Flush();
}

void ArchiveWriter::Flush() {
  if (pending_.empty()) return;
  WriteBatch(pending_);
  pending_.Clear();
}

std::size_t ArchiveWriter::WriteBatch(const ArchiveBatch& batch, std::size_t from, bool keep) {
  if (from >= batch.size()) return batch.size();
  if (db_ == nullptr) {
    last_frame_ms_ = batch.LastTime();
    // Kept frames try again at once after a lock or a full disk; the caller paces it.
    const bool retry = !path_.empty() && (std::chrono::steady_clock::now() >= next_open_attempt_ ||
                                          (keep && Passes(failure_code_)));
    if (!retry || !OpenDatabase()) {
      if (keep && retry && Passes(failure_code_)) {
        if (!IsLock(failure_code_)) Failed();
        return from;
      }
      if (retry) Failed();
      Missed(batch.size() - from);
      return batch.size();
    }
  }
  // A frame that cannot be added takes the frames of its transaction with it;
  // the frames after it are tried in a new one. When no transaction can begin
  // (another program holding the archive past the busy timeout, say), the rest
  // of the batch is lost rather than each frame waiting in turn; unless the
  // caller keeps it for another try.
  for (std::size_t i = from; i < batch.size(); ++i) {
    if (!in_transaction_) transaction_first_ = i;
    if (!Begin()) {
      if (keep && FailurePasses()) return KeepFrom(i);
      Failed();
      last_frame_ms_ = batch.LastTime();
      Missed(batch.size() - i);
      return batch.size();
    }
    if (!AddFrame(batch, i)) {
      error_ = sqlite3_errmsg(db_);
      if (keep && FailurePasses()) return KeepFrom(transaction_first_);
      Failed();
      Rollback();
    }
  }
  if (!in_transaction_) return batch.size();
  if (!InsertStaged(batch, true) || !Commit()) {
    error_ = sqlite3_errmsg(db_);
    if (keep && FailurePasses()) return KeepFrom(transaction_first_);
    Failed();
    Rollback();
    return batch.size();
  }
  Succeeded(last_frame_ms_);
  for (ArchiveExtension* e : extensions_) e->Committed();
  return batch.size();
}

bool ArchiveWriter::RunTask(const ArchiveTask& task, bool keep) {
  if (db_ == nullptr && (path_.empty() || !OpenDatabase())) {
    // As for frames: told, and the work is lost unless the failure passes.
    if (keep && Passes(failure_code_)) return false;
    if (!path_.empty()) Failed();
    return true;
  }
  if (Begin() && task(db_) && Commit()) return true;
  error_ = sqlite3_errmsg(db_);
  if (keep && FailurePasses()) {
    KeepFrom(0);
    return false;
  }
  Failed();
  Abandon();
  return true;
}

bool ArchiveWriter::FailurePasses() const { return Passes(sqlite3_errcode(db_)); }

std::size_t ArchiveWriter::KeepFrom(std::size_t index) {
  // A lock is the archive shared with another program, not a fault: it is told
  // only when frames come to be missed for it.
  if (!IsLock(sqlite3_errcode(db_))) Failed();
  Abandon();
  return index;
}

void ArchiveWriter::MissedWaiting(std::uint64_t frames, std::int64_t last_ms,
                                  std::string_view why) {
  if (frames == 0) return;
  notices_.Failed(why);
  last_frame_ms_ = last_ms;
  Missed(frames);
}

bool ArchiveWriter::AddFrame(const ArchiveBatch& batch, std::size_t index) {
  Statements& s = *statements_;
  const DecodedFrame frame = batch.Frame(index);
  const std::int64_t received_ms = frame.received_ms;
  last_frame_ms_ = received_ms;
  // Counted at once: a failure rolls the count back with the transaction.
  ++added_;
  ++batch_count_;
  // A frame later than every frame of the archive cannot be there already: the
  // look-up is needed only for a recording added again (or out of order).
  if (frame.replayed && !IsAfterLatest(batch, received_ms)) {
    // The look-up must see the frames of this transaction too.
    if (!InsertStaged(batch, true)) return false;
    s.find_frame.BindInt64(1, received_ms);
    s.find_frame.BindBlob(2, frame.bytes);
    const int found = s.find_frame.StepOnce();
    if (found == SQLITE_ROW) {
      --added_;
      --batch_count_;
      ++duplicates_;
      ++transaction_duplicates_;
      return true;
    }
    if (found != SQLITE_DONE) return false;
  }

  const std::int64_t frame_id = next_id_++;
  s.rows.Stage(batch, index, frame_id, frame.record);
  if (latest_known_ && received_ms > latest_ms_) latest_ms_ = received_ms;
  for (ArchiveExtension* e : extensions_) {
    if (!e->FrameAdded(db_, frame, frame_id)) return false;
  }
  return InsertStaged(batch, false);
}

// The archive's notice follows the same rules as a log's: told when it starts
// failing, again for every frame missed meanwhile, and when a commit succeeds again.
void ArchiveWriter::Failed() { notices_.Failed(error_); }

void ArchiveWriter::Missed(std::uint64_t frames) {
  lost_ += frames;
  notices_.Missed(frames, last_frame_ms_ / 1000);
}

void ArchiveWriter::Succeeded(std::int64_t when_ms) { notices_.WrittenAgain(when_ms / 1000); }

}  // namespace zevrin
