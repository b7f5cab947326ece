// The notice kept for a log or the archive: what is told, and how often.

#include "outputs/log_notices.h"

#include <gtest/gtest.h>

#include <vector>

namespace zevrin {
namespace {

class LogNoticeKeeperTest : public ::testing::Test, LogProblemListener {
 protected:
  void LogNoticeChanged(const LogNotice& notice) override { told_.push_back(notice); }
  std::vector<LogNotice> told_;
  LogNoticeKeeper keeper_{LogKind::kArchive, this};
};

TEST_F(LogNoticeKeeperTest, ARepeatedFailureIsToldOnceAndANewErrorOrARecoveryAgain) {
  keeper_.Restart("dir/Lab_archive.sqlite");
  keeper_.WrittenAgain(50);  // nothing had failed
  keeper_.Failed("disk I/O error");
  keeper_.Failed("disk I/O error");
  ASSERT_EQ(told_.size(), 1u);
  EXPECT_FALSE(told_[0].complete_now);
  EXPECT_EQ(told_[0].path, "dir/Lab_archive.sqlite");
  keeper_.Failed("database or disk is full");
  keeper_.WrittenAgain(90);
  keeper_.WrittenAgain(95);
  ASSERT_EQ(told_.size(), 3u);
  EXPECT_EQ(told_[1].error, "database or disk is full");
  EXPECT_TRUE(told_[2].complete_now);
  EXPECT_EQ(told_[2].written_again, 90);
  keeper_.Failed("database or disk is full");  // after a recovery: a failure of its own
  EXPECT_EQ(told_.size(), 4u);
}

TEST_F(LogNoticeKeeperTest, MissedPiecesKeepTheFirstAndLastTimeUntilARestart) {
  keeper_.FailedMissingOne("full", 70);
  keeper_.Missed(0, 100);  // nothing missed: nothing to tell
  keeper_.Missed(3, 100);
  keeper_.Missed(2, 160);
  ASSERT_EQ(told_.size(), 3u);
  EXPECT_EQ(told_[0].missed, 1u);
  EXPECT_EQ(told_.back().missed, 6u);
  EXPECT_EQ(told_.back().first_missed, 70);
  EXPECT_EQ(told_.back().last_missed, 160);

  keeper_.Restart("other.sqlite");
  EXPECT_TRUE(keeper_.notice().complete_now);
  EXPECT_EQ(keeper_.notice().missed, 0u);
  EXPECT_EQ(keeper_.notice().kind, LogKind::kArchive);
  keeper_.Silence();
  keeper_.Failed("full");
  EXPECT_EQ(told_.size(), 3u);
  EXPECT_FALSE(keeper_.notice().complete_now);
}

}  // namespace
}  // namespace zevrin
