// zevrinkiss-decode --share, run as a user would, against a web server the test runs
// on 127.0.0.1: only with --share, at the archive's times, once per frame however
// often a recording is replayed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "outputs/share/http_post.h"
#include "outputs/share/share_settings.h"
#include "sample/sample_pass.h"
#include "support/http_recorder.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using namespace std::chrono_literals;
using sample::Bytes;
using testing::FormFields;
using ::testing::HasSubstr;
using testing::HttpRecorder;

// Whatever a test configures, the program it starts connects nowhere but here.
[[maybe_unused]] const int kLoopbackOnly = ::setenv(kLoopbackOnlyVariable, "1", 1);

// Runs the program with `args`, its standard error into `errors_path`; its exit status.
int RunTool(const std::vector<std::string>& args, const std::string& errors_path) {
  std::string command = ZEVRIN_DECODE_BINARY;
  for (const std::string& a : args) command += " '" + a + "'";
  command += " >/dev/null 2>'" + errors_path + "' </dev/null";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class DecodeShareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A raw log named as the desktop program names it: its frames were received
    // from 2009-06-20 14:05 UTC on.
    const Bytes pass = sample::MakePass({.frames = 120});
    dir_.Write("Lab_20062009_1405.kss", std::string(pass.begin(), pass.end()));
    recording_ = (dir_ / "Lab_20062009_1405.kss").string();
    archive_ = (dir_ / "archive.sqlite").string();
    settings_path_ = (dir_ / "share.ini").string();
    WriteSettings("DL1ABC");
  }
  void WriteSettings(const std::string& callsign) {
    ShareSettings settings;
    settings.enabled = true;
    settings.station = {callsign, 49.73145, 8.95564, 99999};
    settings.servers = {{server_.url(), "t0ken"}};
    ASSERT_EQ(WriteShareSettings(settings_path_, settings), std::nullopt);
  }
  int Run(const std::vector<std::string>& args) {
    return RunTool(args, (dir_ / "errors.txt").string());
  }
  std::string Errors() const { return dir_.Contents("errors.txt"); }

  testing::TempDir dir_{"decode-share"};
  HttpRecorder server_;
  std::string recording_;
  std::string archive_;
  std::string settings_path_;
};

TEST_F(DecodeShareTest, SendsOnlyWithShareAndEachFrameOnce) {
  ASSERT_EQ(Run({"--archive", archive_, recording_}), 0);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(server_.count(), 0u) << "no --share, nothing sent";

  const std::string second = (dir_ / "second.sqlite").string();
  ASSERT_EQ(Run({"--archive", second, "--share", settings_path_, recording_}), 0);
  EXPECT_THAT(Errors(), HasSubstr("warning: --share sends"));
  EXPECT_THAT(Errors(), HasSubstr("at the times the archive gives them"));
  const auto requests = server_.requests();
  ASSERT_GT(requests.size(), 50u);
  std::string previous;
  for (const auto& r : requests) {
    const auto fields = FormFields(r.body);
    EXPECT_EQ(fields.at("source"), "DL1ABC");
    EXPECT_EQ(r.headers.at("authorization"), "Token t0ken");
    // The archive's times: from the minute in the log's name on, at the line rate.
    EXPECT_THAT(fields.at("timestamp"), ::testing::StartsWith("2009-06-20T14:0"));
    EXPECT_GT(fields.at("timestamp"), previous) << "oldest first";
    previous = fields.at("timestamp");
  }
  EXPECT_THAT(Errors(), HasSubstr(std::to_string(requests.size()) + " sent, 0 waiting"));

  // The same recording again: the archive holds its frames already, nothing is sent.
  ASSERT_EQ(Run({"--archive", second, "--share", settings_path_, recording_}), 0);
  EXPECT_EQ(server_.count(), requests.size());
  EXPECT_NE(Run({"--share", settings_path_, recording_}), 0) << "the queue needs an archive";
}

}  // namespace
}  // namespace zevrin
