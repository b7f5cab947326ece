#pragma once
// One prepared SQLite statement that finalises itself, and running plain SQL.
// Shared by the archive and the share queue, which keep their rows in the same
// kind of file. The bindings are inline: the archive binds every value of every
// row through them.

#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zevrin {

/// A prepared statement, finalised when it goes or is prepared again. A
/// statement that could not be prepared is not ok() and must not be used.
class SqliteStatement {
 public:
  /// How long a statement is kept: kOnce for a query prepared where it runs,
  /// kCached for one kept as long as its connection (a hint to SQLite).
  enum class Lifetime { kOnce, kCached };

  SqliteStatement() = default;
  /// Prepares `sql` on `db`; ok() tells whether it could.
  SqliteStatement(sqlite3* db, const char* sql, Lifetime lifetime = Lifetime::kOnce) {
    Prepare(db, sql, lifetime);
  }
  ~SqliteStatement() { Finalize(); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  /// Prepares `sql` on `db` in place of the statement held so far; false when
  /// it cannot (sqlite3_errmsg(db) tells why).
  bool Prepare(sqlite3* db, const char* sql, Lifetime lifetime = Lifetime::kOnce);
  void Finalize();
  bool ok() const { return stmt_ != nullptr; }

  /// Parameters count from 1.
  void BindInt64(int param, std::int64_t value) { sqlite3_bind_int64(stmt_, param, value); }
  void BindDouble(int param, double value) { sqlite3_bind_double(stmt_, param, value); }
  void BindNull(int param) { sqlite3_bind_null(stmt_, param); }
  /// Binds `text` without copying it: it must stay as it is until the statement
  /// is stepped. An empty text is bound as an empty text, never as NULL.
  void BindText(int param, std::string_view text) {
    sqlite3_bind_text(stmt_, param, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                      SQLITE_STATIC);
  }
  /// Binds a copy of `text` (a view without characters, as NULL).
  void BindTextCopy(int param, std::string_view text) {
    sqlite3_bind_text(stmt_, param, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  /// Binds `bytes` without copying them, like BindText.
  void BindBlob(int param, std::span<const std::uint8_t> bytes) {
    sqlite3_bind_blob(stmt_, param, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
  }
  int Parameters() const { return sqlite3_bind_parameter_count(stmt_); }

  /// Steps once: SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return sqlite3_step(stmt_); }
  /// Makes the statement ready to run again; the bindings stay.
  void Reset() { sqlite3_reset(stmt_); }
  /// Steps once and resets, for a statement whose every use binds all its
  /// parameters; returns the step's result.
  int StepOnce() {
    const int rc = Step();
    Reset();
    return rc;
  }

  /// The columns of the current row, counted from 0.
  bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  /// SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB or SQLITE_NULL.
  int Type(int column) const { return sqlite3_column_type(stmt_, column); }
  std::int64_t Int64(int column) const { return sqlite3_column_int64(stmt_, column); }
  double Double(int column) const { return sqlite3_column_double(stmt_, column); }
  /// The text of a column; NULL gives an empty text.
  std::string Text(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

/// Runs `sql` (one statement or more); false with `error` set when it fails.
bool ExecSql(sqlite3* db, const std::string& sql, std::string& error);

/// Opens the existing database at `path` for reading only, waiting up to two
/// seconds for a writer in the middle of a checkpoint. Null with `error` set when
/// it cannot be opened.
sqlite3* OpenForReading(const std::string& path, std::string& error);

}  // namespace zevrin
