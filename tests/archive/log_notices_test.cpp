// The notice kept for a log or the archive: what is told, and how often. The
// archive's tests see the notices of a full disk; here the cases they do not make.

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
  for (const char* error : {"disk I/O error", "disk I/O error", "database or disk is full"})
    keeper_.Failed(error);
  keeper_.WrittenAgain(90);
  keeper_.WrittenAgain(95);
  keeper_.Failed("database or disk is full");  // after a recovery: a failure of its own
  ASSERT_EQ(told_.size(), 4u);
  EXPECT_EQ(std::tuple(told_[0].path, told_[0].complete_now, told_[1].error),
            std::tuple("dir/Lab_archive.sqlite", false, "database or disk is full"));
  EXPECT_EQ(std::pair(told_[2].complete_now, told_[2].written_again),
            std::pair(true, std::int64_t{90}));
}

TEST_F(LogNoticeKeeperTest, MissedPiecesKeepTheFirstAndLastTimeUntilARestart) {
  keeper_.FailedMissingOne("full", 70);
  keeper_.Missed(0, 100);  // nothing missed: nothing to tell
  keeper_.Missed(3, 100);
  keeper_.Missed(2, 160);
  ASSERT_EQ(told_.size(), 3u);
  EXPECT_EQ(told_[0].missed, 1u);
  EXPECT_EQ(std::tuple(told_[2].missed, told_[2].first_missed, told_[2].last_missed),
            std::tuple(6u, 70, 160));

  keeper_.Restart("other.sqlite");
  EXPECT_EQ(
      std::tuple(keeper_.notice().complete_now, keeper_.notice().missed, keeper_.notice().kind),
      std::tuple(true, 0u, LogKind::kArchive));
  keeper_.Silence();
  keeper_.Failed("full");
  EXPECT_EQ(told_.size(), 3u);
  EXPECT_FALSE(keeper_.notice().complete_now);
}

}  // namespace
}  // namespace zevrin
