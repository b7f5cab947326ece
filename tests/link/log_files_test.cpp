#include "link/log_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/fakes.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const std::int64_t kMarch3 = FromCivil({2010, 3, 3, 14, 7, 0});  // 14:07 UTC

struct RecordingListener final : LogProblemListener {
  void ShowLogProblem(std::string_view m) override { problems.emplace_back(m); }
  void ShowLogRecovered(std::string_view m) override { recoveries.emplace_back(m); }
  std::vector<std::string> problems, recoveries;
};

class LogFilesTest : public ::testing::Test {
 protected:
  std::string Contents(std::string_view ext) const {
    return dir_.Contents(LogFileName("", "Lab", kMarch3, ext));
  }
  std::size_t FileCount() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_.path()), {}));
  }

  testing::TempDir dir_{"logs"};
  testing::FixedClock clock_{{kMarch3 + 30, 0}};
  RecordingListener listener_;
};

TEST(LogFileNameTest, LabelUtcStampAndExtension) {
  EXPECT_EQ(LogFileName("/opt/zk", "Lab", kMarch3, ".kss"), "/opt/zk/Lab_03032010_1407.kss");
  EXPECT_EQ(LogFileName("/opt/zk/", "", kMarch3 + 59, ".dmp"), "/opt/zk/_03032010_1407.dmp");
}

TEST_F(LogFilesTest, EmptyLogsAreDeletedAndASecondRunInTheSameMinuteAppends) {
  for (const std::uint8_t payload : {0x01, 0x02}) {
    LogFiles logs(dir_.string(), &listener_);
    logs.OpenRawLog("Lab", kMarch3);
    logs.OpenDumpLogs("Lab", clock_);
    EXPECT_EQ(FileCount(), 3u);
    logs.raw_log().AppendFrame(Bytes{0xC0, 0x00, payload, 0xC0});
    logs.dump_log().WriteLine(std::to_string(payload));
    // Frames and lines reach the files at once: a crash now loses nothing.
    EXPECT_THAT(Contents(".kss"), EndsWith(std::string("\x00", 1) + char(payload) + "\xC0"));
    EXPECT_EQ(Contents(".dmp").back(), '\n');
    EXPECT_THAT(logs.CloseAll(), IsEmpty());
  }
  EXPECT_EQ(Contents(".kss"), std::string("\xC0\x00\x01\xC0\xC0\x00\x02\xC0", 8));
  EXPECT_EQ(Contents(".dmp"), "1\r\n2\r\n");
  EXPECT_EQ(FileCount(), 2u);  // the hex log, never written, is gone

  LogFiles unused(dir_.string(), &listener_);
  unused.OpenRawLog("Other", kMarch3);
  EXPECT_EQ(FileCount(), 3u);
  unused.CloseAll();
  EXPECT_EQ(FileCount(), 2u);
  EXPECT_THAT(listener_.problems, IsEmpty());
}

TEST_F(LogFilesTest, ALogThatCannotBeCreatedIsReportedOnceAndAgainWhenItWorks) {
  const fs::path missing = dir_ / "not-yet";
  LogFiles logs(missing.string(), &listener_);
  logs.OpenRawLog("Lab", kMarch3);
  const Bytes frame{0xC0, 0x00, 0x41, 0xC0};
  EXPECT_FALSE(logs.raw_log().AppendFrame(frame));
  EXPECT_FALSE(logs.raw_log().AppendFrame(frame));
  ASSERT_EQ(listener_.problems.size(), 1u);
  EXPECT_THAT(listener_.problems[0], HasSubstr("not-yet/Lab_03032010_1407.kss"));
  EXPECT_THAT(listener_.problems[0], HasSubstr("No such file or directory"));

  fs::create_directory(missing);
  EXPECT_TRUE(logs.raw_log().AppendFrame(frame));
  EXPECT_TRUE(logs.raw_log().AppendFrame(frame));
  EXPECT_EQ(listener_.problems.size(), 1u);
  EXPECT_EQ(listener_.recoveries.size(), 1u);
}

TEST_F(LogFilesTest, AFrameThatDoesNotFitIsCutOffSoTheLogHoldsWholeFramesOnly) {
  // A file size limit stands in for a full disk: the second frame fits only in part.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  LogFiles logs(dir_.string(), &listener_);
  logs.OpenRawLog("Lab", kMarch3);
  rlimit small = old;
  small.rlim_cur = 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool first = logs.raw_log().AppendFrame(Bytes{0xC0, 0x00, 0x01, 0x02, 0xC0});
  const bool second = logs.raw_log().AppendFrame(Bytes{0xC0, 0x00, 0x03, 0x04, 0x05, 0x06, 0xC0});
  const bool third = logs.raw_log().AppendFrame(Bytes{0xC0, 0x00, 0x07, 0xC0});
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, SIG_DFL);

  EXPECT_TRUE(first && !second && third);
  EXPECT_EQ(Contents(".kss"), std::string("\xC0\x00\x01\x02\xC0\xC0\x00\x07\xC0", 9));
  EXPECT_EQ(listener_.problems.size(), 1u);
  EXPECT_EQ(listener_.recoveries.size(), 1u);
}

}  // namespace
}  // namespace zevrin
