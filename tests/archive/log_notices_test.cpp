// The notice kept for a log or the archive: what is told, and how often.

#include "outputs/log_notices.h"

#include <gtest/gtest.h>

#include <vector>

namespace zevrin {
namespace {

struct Recorder : LogProblemListener {
  void LogNoticeChanged(const LogNotice& notice) override { told.push_back(notice); }
  std::vector<LogNotice> told;
};

class LogNoticeKeeperTest : public ::testing::Test {
 protected:
  Recorder listener_;
  LogNoticeKeeper keeper_{LogKind::kArchive, &listener_};
};

TEST_F(LogNoticeKeeperTest, ARepeatedFailureIsToldOnceAndANewErrorAgain) {
  keeper_.Restart("dir/Lab_archive.sqlite");
  keeper_.Failed("disk I/O error");
  keeper_.Failed("disk I/O error");
  ASSERT_EQ(listener_.told.size(), 1u);
  EXPECT_FALSE(listener_.told[0].complete_now);
  EXPECT_EQ(listener_.told[0].kind, LogKind::kArchive);
  EXPECT_EQ(listener_.told[0].path, "dir/Lab_archive.sqlite");
  keeper_.Failed("database or disk is full");
  ASSERT_EQ(listener_.told.size(), 2u);
  EXPECT_EQ(listener_.told[1].error, "database or disk is full");
}

TEST_F(LogNoticeKeeperTest, MissedPiecesKeepTheFirstAndTheLastTime) {
  keeper_.Failed("full");
  keeper_.Missed(0, 100);  // nothing missed: nothing to tell
  keeper_.Missed(3, 100);
  keeper_.Missed(2, 160);
  ASSERT_EQ(listener_.told.size(), 3u);
  const LogNotice& last = listener_.told.back();
  EXPECT_EQ(last.missed, 5u);
  EXPECT_EQ(last.first_missed, 100);
  EXPECT_EQ(last.last_missed, 160);
}

TEST_F(LogNoticeKeeperTest, WrittenAgainIsToldOnceAfterAFailureOnly) {
  keeper_.WrittenAgain(50);
  EXPECT_TRUE(listener_.told.empty());
  keeper_.FailedMissingOne("full", 70);
  keeper_.WrittenAgain(90);
  keeper_.WrittenAgain(95);
  ASSERT_EQ(listener_.told.size(), 2u);
  EXPECT_EQ(listener_.told[0].missed, 1u);
  EXPECT_EQ(listener_.told[0].first_missed, 70);
  EXPECT_TRUE(listener_.told[1].complete_now);
  EXPECT_EQ(listener_.told[1].written_again, 90);
  // The same error after a recovery is a failure of its own.
  keeper_.Failed("full");
  EXPECT_EQ(listener_.told.size(), 3u);
}

TEST_F(LogNoticeKeeperTest, ARestartForgetsWhatWasMissedAndSilenceTellsNothing) {
  keeper_.FailedMissingOne("full", 70);
  keeper_.Restart("other.sqlite");
  EXPECT_TRUE(keeper_.notice().complete_now);
  EXPECT_EQ(keeper_.notice().missed, 0u);
  EXPECT_EQ(keeper_.notice().kind, LogKind::kArchive);
  keeper_.Silence();
  keeper_.Failed("full");
  EXPECT_EQ(listener_.told.size(), 1u);
  EXPECT_FALSE(keeper_.notice().complete_now);
}

}  // namespace
}  // namespace zevrin
