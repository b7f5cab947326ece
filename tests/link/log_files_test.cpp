// The raw log on a disk that fills up: whole frames only, and a notice that tells
// what was missed and when the log is written again.

#include "outputs/logs/log_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <string>
#include <tuple>
#include <vector>

#include "support/fakes.h"
#include "support/station_view.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Bytes;

const std::int64_t kTen = FromCivil({2009, 6, 20, 10, 0, 0});
const std::string kLog = "Lab_20062009_1000.kss";

// A file size limit stands in for a full disk (Limit(0): none).
class RawLogTest : public ::testing::Test {
 protected:
  RawLogTest() {
    std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    logs_.OpenRawLog("Lab", kTen);
  }
  ~RawLogTest() override {
    Limit(0);
    std::signal(SIGXFSZ, SIG_DFL);
  }
  void Limit(rlim_t bytes) {
    rlimit limit = old_;
    if (bytes > 0) limit.rlim_cur = bytes;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  bool Append(int second, const Bytes& frame) {
    clock_.Set({kTen + second, 0});
    return logs_.raw_log().AppendFrame(frame);
  }

  rlimit old_{};
  testing::TempDir dir_{"raw-log"};
  testing::FixedClock clock_{{kTen, 0}};
  testing::RecordingStationView view_;
  LogFiles logs_{dir_.string(), &view_, clock_};
};

TEST_F(RawLogTest, AFrameThatDoesNotFitIsCutOffSoTheLogHoldsWholeFramesOnly) {
  Limit(10);  // the second frame fits only in part
  EXPECT_TRUE(Append(0, {0xC0, 0x00, 0x01, 0x02, 0xC0}));
  EXPECT_FALSE(Append(0, {0xC0, 0x00, 0x03, 0x04, 0x05, 0x06, 0xC0}));
  EXPECT_TRUE(Append(0, {0xC0, 0x00, 0x07, 0xC0}));
  Limit(0);
  EXPECT_EQ(dir_.Contents(kLog), std::string("\xC0\x00\x01\x02\xC0\xC0\x00\x07\xC0", 9));
  // One small frame that still fits says nothing about the log being written again.
  EXPECT_THAT(view_.events, ::testing::ElementsAre(::testing::StartsWith("log-problem:")));

  // A run killed in the middle of a write leaves the start of a frame at the end;
  // the next run of the same minute cuts it off before its own frames follow.
  dir_.Write(kLog, std::string("\xC0\x00\x01\xC0\xC0\x00\x02\x03", 8));
  LogFiles again(dir_.string(), &view_, clock_);
  again.OpenRawLog("Lab", kTen);
  again.raw_log().AppendFrame(Bytes{0xC0, 0x00, 0x09, 0xC0});
  EXPECT_EQ(dir_.Contents(kLog), std::string("\xC0\x00\x01\xC0\xC0\x00\x09\xC0", 8));
}

// A disk that is full but for the end of its last block: big frames fail, small ones
// still fit. The notice counts what is missed and says "written again" only once the
// log takes a run of bytes that needs new room, and counts on when it fails again.
TEST_F(RawLogTest, NoticeCountsMissedFramesAndTellsARealRecoveryOnly) {
  const Bytes big(40, 0x41), small(5, 0x42), block(1000, 0x43);
  Limit(100);
  std::vector<bool> written;
  for (int second = 1; second <= 6; ++second) {
    written.push_back(Append(second, big));
    written.push_back(Append(second, small));
  }
  Limit(0);
  EXPECT_THAT(written, ::testing::ElementsAre(true, true, true, true, false, true, false, true,
                                              false, false, false, false));
  ASSERT_EQ(view_.notices.size(), 6u);  // one change for each frame missed
  const auto notice = [&] {
    const LogNotice& n = view_.notices.back();
    return std::tuple(n.complete_now, n.missed, n.first_missed - kTen, n.last_missed - kTen);
  };
  EXPECT_EQ(notice(), std::tuple(false, 6u, 3, 6));
  for (int i = 0; i < 5; ++i) Append(10 + i, block);  // room again
  ASSERT_EQ(view_.notices.size(), 7u);
  EXPECT_EQ(notice(), std::tuple(true, 6u, 3, 6));
  EXPECT_EQ(view_.notices.back().written_again, kTen + 14);
  for (int i = 0; i < 10; ++i) Append(20, small);
  EXPECT_EQ(view_.notices.size(), 7u);  // nothing to tell while it works

  Limit(100);
  Append(30, big);
  Limit(0);
  ASSERT_EQ(view_.notices.size(), 8u);
  EXPECT_EQ(notice(), std::tuple(false, 7u, 3, 30));
}

}  // namespace
}  // namespace zevrin
