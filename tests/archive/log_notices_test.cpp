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

// A failure is told once however often it repeats; another error, a recovery,
// and each piece missed again, with the first and the last time missed.
TEST_F(LogNoticeKeeperTest, ARepeatedFailureIsToldOnceAndANewErrorOrARecoveryAgain) {
  keeper_.WrittenAgain(50);  // nothing had failed
  for (const char* error : {"disk I/O error", "disk I/O error", "database or disk is full"})
    keeper_.Failed(error);
  keeper_.WrittenAgain(90);
  keeper_.WrittenAgain(95);
  keeper_.FailedMissingOne("full", 70);  // after a recovery: a failure of its own
  keeper_.Missed(0, 100);                // nothing missed: nothing to tell
  keeper_.Missed(2, 160);
  ASSERT_EQ(told_.size(), 5u);
  EXPECT_EQ(told_[1].error, "database or disk is full");
  EXPECT_EQ(std::tuple(told_[2].complete_now, told_[2].written_again), std::tuple(true, 90));
  EXPECT_EQ(std::tuple(told_[4].missed, told_[4].first_missed, told_[4].last_missed),
            std::tuple(3u, 70, 160));
  keeper_.Restart("other.sqlite");
  keeper_.Silence();
  keeper_.Failed("full");
  EXPECT_EQ(told_.size(), 5u);
  EXPECT_EQ(std::tuple(keeper_.notice().complete_now, keeper_.notice().missed),
            std::tuple(false, 0u));
}

}  // namespace
}  // namespace zevrin
