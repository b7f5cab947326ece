#include "archive/archive_writer.h"

#include <sqlite3.h>

#include <array>
#include <limits>
#include <utility>

#include "archive/archive_columns.h"
#include "archive/archive_schema.h"

namespace zevrin {

namespace {

// How long an archive that could not be opened is left alone before the next try.
constexpr std::chrono::seconds kReopenInterval{5};
// How long a write waits for another program holding the archive.
constexpr int kBusyTimeoutMs = 2000;

class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) ==
           SQLITE_OK;
  }
  sqlite3_stmt* get() const { return stmt_; }
  /// Steps once and resets; returns the step's result code.
  int StepOnce() {
    const int rc = sqlite3_step(stmt_);
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    return rc;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Binds a text; an empty one as an empty text, never as NULL.
void BindText(sqlite3_stmt* stmt, int param, std::string_view text) {
  sqlite3_bind_text(stmt, param, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                    SQLITE_STATIC);
}

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
  Statement find_frame;
  Statement latest_frame;
  Statement add_frame;
  std::array<Statement, 2> add_record;  // power, system
};

ArchiveWriter::ArchiveWriter(LogProblemListener* listener, ArchiveWriterOptions options)
    : listener_(listener), options_(std::move(options)) {
  if (options_.batch_frames < 1) options_.batch_frames = 1;
}

ArchiveWriter::~ArchiveWriter() { Close(); }

bool ArchiveWriter::Open(const std::string& path) {
  Close();
  path_ = path;
  notice_ = LogNotice{};
  notice_.kind = LogKind::kArchive;
  notice_.path = path_;
  if (OpenDatabase()) return true;
  Failed();
  return false;
}

void ArchiveWriter::Close() {
  if (db_ == nullptr) return;
  Flush();
  CloseDatabase();
}

bool ArchiveWriter::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error_ = message != nullptr ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return false;
}

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
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // A file that is not an archive of ours is left exactly as it is: checked
  // before anything is written to it.
  if (!IsEmptyOrArchive(db_, error_)) {
    CloseDatabase();
    return false;
  }
  // WAL with NORMAL synchronisation: a killed program loses nothing committed, a
  // power cut at most the last transactions, and the file stays whole either way.
  if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=NORMAL") ||
      !Exec("BEGIN IMMEDIATE")) {
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
  error_.clear();
  return true;
}

bool ArchiveWriter::Prepare() {
  statements_ = std::make_unique<Statements>();
  Statements& s = *statements_;
  bool ok = s.find_frame.Prepare(db_,
                                 "SELECT 1 FROM frames WHERE received_ms = ?1 AND bytes = ?2 "
                                 "LIMIT 1") &&
            s.latest_frame.Prepare(db_, "SELECT max(received_ms) FROM frames") &&
            s.add_frame.Prepare(db_,
                                "INSERT INTO frames (received_ms, station, link, bytes) "
                                "VALUES (?1, ?2, ?3, ?4)");
  ok = ok && s.add_record[0].Prepare(db_, RecordInsertSql(RecordKind::kPower)) &&
       s.add_record[1].Prepare(db_, RecordInsertSql(RecordKind::kSystem));
  if (!ok) error_ = sqlite3_errmsg(db_);
  return ok;
}

void ArchiveWriter::CloseDatabase() {
  statements_.reset();
  if (db_ != nullptr) {
    for (ArchiveExtension* e : extensions_) e->Closing();
  }
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
  // Another program may have added frames since the last transaction.
  latest_known_ = false;
  return true;
}

bool ArchiveWriter::IsAfterLatest(std::int64_t received_ms) {
  if (!latest_known_) {
    sqlite3_stmt* latest = statements_->latest_frame.get();
    if (sqlite3_step(latest) != SQLITE_ROW) {
      sqlite3_reset(latest);
      return false;
    }
    // An empty archive gives NULL: every time is later.
    latest_ms_ = sqlite3_column_type(latest, 0) == SQLITE_NULL
                     ? std::numeric_limits<std::int64_t>::min()
                     : sqlite3_column_int64(latest, 0);
    sqlite3_reset(latest);
    latest_known_ = true;
  }
  return received_ms > latest_ms_;
}

bool ArchiveWriter::Commit() {
  if (!in_transaction_) return true;
  if (!Exec("COMMIT")) {
    Rollback();
    return false;
  }
  in_transaction_ = false;
  batch_count_ = 0;
  return true;
}

void ArchiveWriter::Rollback() {
  // The frames of the batch are gone with it.
  if (in_transaction_ && sqlite3_get_autocommit(db_) == 0) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  added_ -= static_cast<std::uint64_t>(batch_count_);
  Missed(static_cast<std::uint64_t>(batch_count_));
  in_transaction_ = false;
  batch_count_ = 0;
}

void ArchiveWriter::FrameDecoded(const DecodedFrame& frame) {
  last_frame_ms_ = frame.received_ms;
  if (db_ == nullptr) {
    const bool retry = !path_.empty() && std::chrono::steady_clock::now() >= next_open_attempt_;
    if (!retry || !OpenDatabase()) {
      if (retry) Failed();
      Missed(1);
      return;
    }
  }
  if (!Begin() || !AddFrame(frame)) {
    error_ = sqlite3_errmsg(db_);
    Failed();
    Missed(1);
    Rollback();
    return;
  }
  if (batch_count_ >= options_.batch_frames) {
    if (!Commit()) {
      Failed();
      return;
    }
    Succeeded(frame.received_ms);
  }
}

bool ArchiveWriter::AddFrame(const DecodedFrame& frame) {
  Statements& s = *statements_;
  const std::int64_t received_ms = frame.received_ms;
  const auto size = static_cast<int>(frame.bytes.size());
  // A frame later than every frame of the archive cannot be there already: the
  // look-up is needed only for a recording added again (or out of order).
  if (frame.replayed && !IsAfterLatest(received_ms)) {
    sqlite3_stmt* find = s.find_frame.get();
    sqlite3_bind_int64(find, 1, received_ms);
    sqlite3_bind_blob(find, 2, frame.bytes.data(), size, SQLITE_STATIC);
    const int found = s.find_frame.StepOnce();
    if (found == SQLITE_ROW) {
      ++duplicates_;
      return true;
    }
    if (found != SQLITE_DONE) return false;
  }

  sqlite3_stmt* add = s.add_frame.get();
  sqlite3_bind_int64(add, 1, received_ms);
  BindText(add, 2, frame.station);
  BindText(add, 3, frame.link);
  sqlite3_bind_blob(add, 4, frame.bytes.data(), size, SQLITE_STATIC);
  if (s.add_frame.StepOnce() != SQLITE_DONE) return false;
  const std::int64_t frame_id = sqlite3_last_insert_rowid(db_);
  if (latest_known_ && received_ms > latest_ms_) latest_ms_ = received_ms;

  if (frame.record != RecordKind::kNone && frame.fields != nullptr) {
    Statement& record = s.add_record[frame.record == RecordKind::kPower ? 0 : 1];
    sqlite3_stmt* r = record.get();
    sqlite3_bind_int64(r, 1, frame_id);
    sqlite3_bind_int64(r, 2, received_ms);
    const FrameWriteSet written(frame.fields->Writes());
    int param = 3;
    for (const ArchiveColumn& column : ArchiveColumns()) {
      if (column.record != frame.record) continue;
      const ColumnValue v = ReadColumn(column, *frame.fields, written);
      if (!v.present) {
        sqlite3_bind_null(r, param);
      } else if (column.kind == ValueKind::kText) {
        BindText(r, param, v.text);
      } else if (v.is_integer) {
        sqlite3_bind_int64(r, param, v.integer);
      } else {
        sqlite3_bind_double(r, param, v.real);
      }
      ++param;
    }
    if (record.StepOnce() != SQLITE_DONE) return false;
  }
  for (ArchiveExtension* e : extensions_) {
    if (!e->FrameAdded(db_, frame, frame_id)) return false;
  }
  ++added_;
  ++batch_count_;
  return true;
}

void ArchiveWriter::Flush() {
  if (db_ == nullptr || !in_transaction_) return;
  if (Commit()) {
    Succeeded(last_frame_ms_);
  } else {
    Failed();
  }
}

// The archive's notice follows the same rules as a log's: told when it starts
// failing, again for every frame missed meanwhile, and when a commit succeeds again.
void ArchiveWriter::Failed() {
  if (!notice_.complete_now && notice_.error == error_) return;
  notice_.complete_now = false;
  notice_.error = error_;
  if (listener_ != nullptr) listener_->LogNoticeChanged(notice_);
}

void ArchiveWriter::Missed(std::uint64_t frames) {
  if (frames == 0) return;
  lost_ += frames;
  const std::int64_t when = last_frame_ms_ / 1000;
  if (notice_.missed == 0) notice_.first_missed = when;
  notice_.missed += frames;
  notice_.last_missed = when;
  if (listener_ != nullptr) listener_->LogNoticeChanged(notice_);
}

void ArchiveWriter::Succeeded(std::int64_t when_ms) {
  if (notice_.complete_now) return;
  notice_.complete_now = true;
  notice_.written_again = when_ms / 1000;
  if (listener_ != nullptr) listener_->LogNoticeChanged(notice_);
}

}  // namespace zevrin
