#include "outputs/archive/sqlite_statement.h"

namespace zevrin {

bool SqliteStatement::Prepare(sqlite3* db, const char* sql, Lifetime lifetime) {
  Finalize();
  const unsigned flags = lifetime == Lifetime::kCached ? SQLITE_PREPARE_PERSISTENT : 0;
  // A failed prepare leaves the statement null.
  return sqlite3_prepare_v3(db, sql, -1, flags, &stmt_, nullptr) == SQLITE_OK;
}

void SqliteStatement::Finalize() {
  sqlite3_finalize(stmt_);
  stmt_ = nullptr;
}

std::string SqliteStatement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  if (text == nullptr) return {};
  return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

bool ExecSql(sqlite3* db, const std::string& sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message != nullptr ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

sqlite3* OpenForReading(const std::string& path, std::string& error) {
  constexpr int kBusyTimeoutMs = 2000;
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return db;
}

}  // namespace zevrin
