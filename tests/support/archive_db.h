#pragma once
// Reading an archive back in tests, with the sqlite3 library directly.

#include <sqlite3.h>

#include <string>
#include <vector>

namespace zevrin::testing {

/// A read-only connection for checks.
class Db {
 public:
  explicit Db(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
  }
  ~Db() { sqlite3_close(db_); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  /// Every row of a query, each value as text ("NULL" for NULL, blobs as their
  /// bytes); a query that fails gives one row with its error.
  std::vector<std::vector<std::string>> Rows(const std::string& sql) const {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      rows.push_back({std::string("error: ") + sqlite3_errmsg(db_)});
      return rows;
    }
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::vector<std::string>& row = rows.emplace_back();
      for (int c = 0; c < sqlite3_column_count(s); ++c) {
        const bool null = sqlite3_column_type(s, c) == SQLITE_NULL;  // before any conversion
        const auto* data = static_cast<const char*>(sqlite3_column_blob(s, c));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(s, c));
        row.push_back(null ? "NULL" : data == nullptr ? "" : std::string(data, size));
      }
    }
    sqlite3_finalize(s);
    return rows;
  }
  std::string One(const std::string& sql) const {
    const auto rows = Rows(sql);
    return rows.empty() || rows[0].empty() ? "" : rows[0][0];
  }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace zevrin::testing
