#include "link/log_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fakes.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using testing::Bytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

const std::int64_t kMarch3 = FromCivil({2010, 3, 3, 14, 7, 0});  // 14:07 UTC

struct RecordingListener final : LogProblemListener {
  void ShowLogProblem(std::string_view m) override { events.push_back("fail " + std::string(m)); }
  void ShowLogRecovered(std::string_view m) override { events.push_back("ok " + std::string(m)); }
  std::vector<std::string> events;
};

class LogFilesTest : public ::testing::Test {
 protected:
  std::string Contents(std::string_view ext) const {
    return dir_.Contents(LogFileName("", "Lab", kMarch3, ext));
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
    EXPECT_EQ(dir_.Files(".hex").size(), 1u);
    logs.raw_log().AppendFrame(Bytes{0xC0, 0x00, payload, 0xC0});
    logs.dump_log().WriteLine(std::to_string(payload));
    // Frames and lines reach the files at once: a crash now loses nothing.
    EXPECT_EQ(Contents(".kss").size() + Contents(".dmp").size(), 7u * payload);
    EXPECT_THAT(logs.CloseAll(), IsEmpty());
  }
  EXPECT_EQ(Contents(".kss"), std::string("\xC0\x00\x01\xC0\xC0\x00\x02\xC0", 8));
  EXPECT_EQ(Contents(".dmp"), "1\r\n2\r\n");
  EXPECT_THAT(dir_.Files(".hex"), IsEmpty());  // never written

  LogFiles unused(dir_.string(), &listener_);
  unused.OpenRawLog("Other", kMarch3);
  unused.CloseAll();
  EXPECT_EQ(dir_.Files(".kss").size(), 1u);
  EXPECT_THAT(listener_.events, IsEmpty());
}

TEST_F(LogFilesTest, ALogThatCannotBeCreatedIsReportedOnceAndAgainWhenItWorks) {
  const fs::path missing = dir_ / "not-yet";
  LogFiles logs(missing.string(), &listener_);
  logs.OpenRawLog("Lab", kMarch3);
  const Bytes frame{0xC0, 0x00, 0x41, 0xC0};
  EXPECT_FALSE(logs.raw_log().AppendFrame(frame) || logs.raw_log().AppendFrame(frame));
  fs::create_directory(missing);
  EXPECT_TRUE(logs.raw_log().AppendFrame(frame) && logs.raw_log().AppendFrame(frame));
  EXPECT_THAT(listener_.events,
              ElementsAre(AllOf(StartsWith("fail "), HasSubstr("not-yet/Lab_03032010_1407.kss"),
                                HasSubstr("No such file or directory")),
                          StartsWith("ok ")));
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
  EXPECT_THAT(listener_.events, ElementsAre(StartsWith("fail "), StartsWith("ok ")));
}

}  // namespace
}  // namespace zevrin
