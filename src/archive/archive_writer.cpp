#include "archive/archive_writer.h"

#include <sqlite3.h>

#include <array>
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
  std::string label(station_label);
  for (char& c : label) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                       c == '-' || c == '_' || c == '.';
    if (!plain) c = '_';
  }
  if (!label.empty() && label.front() == '.') label.front() = '_';
  name += label;
  name += "_archive.sqlite";
  return name;
}

struct ArchiveWriter::Statements {
  Statement find_frame;
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
  if (OpenDatabase()) {
    Succeeded();
    return true;
  }
  Failed("cannot be opened");
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
  return true;
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
  lost_ += static_cast<std::uint64_t>(batch_count_);
  in_transaction_ = false;
  batch_count_ = 0;
}

void ArchiveWriter::FrameDecoded(const DecodedFrame& frame) {
  if (db_ == nullptr) {
    const bool retry = !path_.empty() && std::chrono::steady_clock::now() >= next_open_attempt_;
    if (!retry || !OpenDatabase()) {
      ++lost_;
      if (retry) Failed("cannot be opened");
      return;
    }
  }
  if (!Begin() || !AddFrame(frame)) {
    error_ = sqlite3_errmsg(db_);
    ++lost_;
    Rollback();
    Failed("cannot be written");
    return;
  }
  if (batch_count_ >= options_.batch_frames && !Commit()) {
    Failed("cannot be written");
    return;
  }
  Succeeded();
}

bool ArchiveWriter::AddFrame(const DecodedFrame& frame) {
  Statements& s = *statements_;
  const std::int64_t received_ms = frame.received_ms;
  const auto size = static_cast<int>(frame.bytes.size());
  if (frame.replayed) {
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
    Succeeded();
  } else {
    Failed("cannot be written");
  }
}

void ArchiveWriter::Failed(std::string_view what) {
  if (failing_) return;
  failing_ = true;
  if (listener_ == nullptr) return;
  std::string message = "The archive " + path_ + " ";
  message += what;
  message += " (" + error_ + "). Reception goes on without it.";
  listener_->ShowLogProblem(message);
}

void ArchiveWriter::Succeeded() {
  if (!failing_) return;
  failing_ = false;
  if (listener_ != nullptr)
    listener_->ShowLogRecovered("The archive " + path_ + " is written again.");
}

}  // namespace zevrin
