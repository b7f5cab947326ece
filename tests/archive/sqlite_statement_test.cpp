// The statement wrapper the archive and the share queue bind their rows through.

#include "outputs/archive/sqlite_statement.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

namespace zevrin {
namespace {

class SqliteStatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    std::string error;
    ASSERT_TRUE(ExecSql(db_, "CREATE TABLE t (s TEXT NOT NULL, b BLOB, n INTEGER)", error))
        << error;
  }
  void TearDown() override { sqlite3_close(db_); }

  sqlite3* db_ = nullptr;
};

TEST_F(SqliteStatementTest, AnEmptyTextIsBoundAsTextNotNull) {
  SqliteStatement insert(db_, "INSERT INTO t (s) VALUES (?)", SqliteStatement::Lifetime::kCached);
  ASSERT_TRUE(insert.ok());
  insert.BindText(1, std::string_view());
  EXPECT_EQ(insert.StepOnce(), SQLITE_DONE) << sqlite3_errmsg(db_);
  SqliteStatement query(db_, "SELECT typeof(s) FROM t");
  ASSERT_EQ(query.Step(), SQLITE_ROW);
  EXPECT_EQ(query.Text(0), "text");
}

TEST_F(SqliteStatementTest, AStatementRunsAgainWithNewBindings) {
  SqliteStatement insert(db_, "INSERT INTO t (s, b, n) VALUES (?, ?, ?)");
  const std::array<std::uint8_t, 3> bytes = {1, 0, 2};
  for (std::int64_t n : {7, 8}) {
    insert.BindText(1, "x");
    insert.BindBlob(2, bytes);
    insert.BindInt64(3, n);
    ASSERT_EQ(insert.StepOnce(), SQLITE_DONE);
  }
  SqliteStatement query(db_, "SELECT sum(n), sum(length(b)) FROM t");
  ASSERT_EQ(query.Step(), SQLITE_ROW);
  EXPECT_EQ(query.Int64(0), 15);
  EXPECT_EQ(query.Int64(1), 6);
  EXPECT_EQ(query.Step(), SQLITE_DONE);
}

TEST_F(SqliteStatementTest, NullColumnsReadAsNullAndEmptyText) {
  SqliteStatement query(db_, "SELECT NULL, max(n) FROM t");
  ASSERT_EQ(query.Step(), SQLITE_ROW);
  EXPECT_TRUE(query.IsNull(0));
  EXPECT_TRUE(query.IsNull(1));
  EXPECT_EQ(query.Text(0), "");
}

TEST_F(SqliteStatementTest, BadSqlIsNotOkAndExecTellsWhy) {
  SqliteStatement bad(db_, "SELECT FROM nowhere");
  EXPECT_FALSE(bad.ok());
  std::string error;
  EXPECT_FALSE(ExecSql(db_, "INSERT INTO missing VALUES (1)", error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
}

}  // namespace
}  // namespace zevrin
