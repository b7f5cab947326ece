// zevrinkiss-decode --share, run as a user would, against a web server the test runs
// on 127.0.0.1: only with --share, once per frame however often a recording is
// replayed, and frames queued by a run that was killed go out with the next run.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "sample/sample_pass.h"
#include "share/http_post.h"
#include "share/share_queue.h"
#include "share/share_settings.h"
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

// Starts the program with `args`; its standard input is a pipe (`input`, -1 when
// not wanted: /dev/null), its standard error goes to `errors_path`.
pid_t Start(const std::vector<std::string>& args, int* input, const std::string& errors_path) {
  int pipe_fds[2] = {-1, -1};
  if (input != nullptr && ::pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = input != nullptr ? pipe_fds[0] : ::open("/dev/null", O_RDONLY);
    const int err = ::open(errors_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int out = ::open("/dev/null", O_WRONLY);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>(ZEVRIN_DECODE_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (input != nullptr) {
    ::close(pipe_fds[0]);
    *input = pipe_fds[1];
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
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
  void WriteSettings(const std::string& callsign, bool enabled = true) {
    ShareSettings settings;
    settings.enabled = enabled;
    settings.station = {callsign, 49.73145, 8.95564, 99999};
    settings.servers = {{server_.url(), "t0ken"}};
    ASSERT_EQ(WriteShareSettings(settings_path_, settings), std::nullopt);
  }
  int Run(std::vector<std::string> args) {
    return Wait(Start(args, nullptr, (dir_ / "errors.txt").string()));
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
}

TEST_F(DecodeShareTest, NothingSentWhileOffOrWithoutCallsign) {
  for (const auto& [callsign, enabled] : {std::pair{"", true}, {"DL1ABC", false}}) {
    WriteSettings(callsign, enabled);
    const std::string archive = (dir_ / (std::string("off-") + callsign + ".sqlite")).string();
    ASSERT_EQ(Run({"--archive", archive, "--share", settings_path_, recording_}), 0);
    EXPECT_THAT(Errors(), HasSubstr("nothing is shared")) << callsign;
  }
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(server_.count(), 0u);
  EXPECT_NE(Run({"--share", settings_path_, recording_}), 0) << "the queue needs an archive";
}

TEST_F(DecodeShareTest, FramesQueuedByAKilledRunGoOutWithTheNextRun) {
  // The server takes the first request and never answers it: everything else waits.
  server_.Script({{0, "", true}});
  int input = -1;
  const pid_t pid = Start({"--archive", archive_, "--share", settings_path_, "-"}, &input,
                          (dir_ / "errors.txt").string());
  ASSERT_GT(pid, 0);
  std::vector<std::string> frames;
  for (int n = 0; n < 20; ++n) {
    const Bytes frame =
        sample::KissFrame(sample::SatelliteFrame(sample::SatellitePayload(n, 'S', n, 0, 40)));
    ASSERT_EQ(::write(input, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    std::this_thread::sleep_for(5ms);
  }
  // Wait until all twenty are in the archive's queue, then kill the program.
  std::unique_ptr<ShareQueue> queue;
  bool queued = false;
  for (int i = 0; i < 500 && !queued; ++i, std::this_thread::sleep_for(10ms)) {
    std::string error;
    if (!queue) queue = ShareQueue::Open(archive_, error, false);
    queued = queue && queue->Counts(server_.url()).waiting == 20;
  }
  ASSERT_TRUE(queued);
  ASSERT_TRUE(server_.WaitFor(1, 5s));
  ::kill(pid, SIGKILL);
  Wait(pid);
  ::close(input);
  EXPECT_EQ(server_.count(), 1u) << "one request in flight, unanswered";

  server_.Script({});
  ASSERT_EQ(Run({"--archive", archive_, "--share", settings_path_, "/dev/null"}), 0);
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 21u) << "the unanswered frame again, then the other nineteen";
  EXPECT_EQ(requests[0].body, requests[1].body);
  std::set<std::string> distinct;
  for (const auto& r : requests) distinct.insert(FormFields(r.body).at("frame"));
  EXPECT_EQ(distinct.size(), 20u);
  EXPECT_EQ(queue->Counts(server_.url()).waiting, 0);
}

}  // namespace
}  // namespace zevrin
