// The real program under load: a copy of zevrinkiss runs in a temporary directory
// (its logs go next to the executable) on a pseudo-terminal, and takes a long
// stream written as fast as it reads it. Its raw log and its archive must hold every
// complete frame. The program runs without the right to set the clock and in a
// network of its own, where no time server can answer.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "link/pty.h"
#include "sample/sample_pass.h"
#include "station/station.h"
#include "support/archive_db.h"
#include "support/fakes.h"
#include "support/kiss_server.h"
#include "support/program_child.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sample::Bytes;

using testing::WaitUntil;
using testing::WholeFramesIn;

class ReliabilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // About five minutes of a 115,200-baud line: noise and a frame whose start was
    // missed, the sample pass over and over, and a frame still open at the end.
    const Bytes pass = sample::MakePass({});
    stream_ = {'A', 'B', 0xC0, 0x00};
    while (stream_.size() < 3'500'000) stream_.insert(stream_.end(), pass.begin(), pass.end());
    stream_.insert(stream_.end(), {0xC0, 0x00, 0x43});
    expected_ = testing::LoggedFrames(stream_);

    ASSERT_TRUE(pty_.ok());
    fs::create_symlink(pty_.slave_path(), dir_ / "com1");
    // Nothing can answer on 127.0.0.1 in the program's own network.
    dir_.Write("zevrinkiss.ini", "01,115200,N,8,1\r\n127.0.0.1\r\nRel\r\n");
    fs::copy_file(ZEVRINKISS_EXECUTABLE, dir_ / "zevrinkiss");  // with its permissions
    pid_ = ::fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      if (!testing::LeaveTheNetwork() || !testing::DropClockRights()) ::_exit(125);
      if (::chdir(dir_.path().c_str()) != 0) ::_exit(126);
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      if (std::freopen("program.out", "w", stderr) == nullptr) ::_exit(126);
      ::execl("./zevrinkiss", "zevrinkiss", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The program creates its raw log once the port is open.
    ASSERT_TRUE(WaitUntil([&] { return !dir_.Files(".kss").empty(); }, 10s));
    log_ = dir_.Files(".kss").front();
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // The wait status, or -1 (neither exited nor signalled) when the program has not
  // ended within `timeout`.
  int WaitForExit(std::chrono::milliseconds timeout) {
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) return -1;
    pid_ = -1;
    return status;
  }
  std::uintmax_t LogSize() const { return fs::file_size(dir_ / log_); }
  // The frames of the station's archive in order; `check` gets its integrity check.
  std::vector<std::string> ArchivedFrames(std::string& check) const {
    const testing::Db db((dir_ / "Rel_archive.sqlite").string());
    check = db.One("PRAGMA integrity_check");
    std::vector<std::string> frames;
    for (auto& row : db.Rows("SELECT bytes FROM frames ORDER BY id")) frames.push_back(row[0]);
    return frames;
  }
  // How many of the expected frames `archived` holds from the first; -1 when it
  // holds anything else.
  long WholeFramesArchived(const std::vector<std::string>& archived) const {
    if (archived.size() > expected_.size()) return -1;
    for (std::size_t k = 0; k < archived.size(); ++k) {
      if (archived[k] != std::string(expected_[k].begin(), expected_[k].end())) return -1;
    }
    return static_cast<long>(archived.size());
  }

  testing::TempDir dir_{"zevrinkiss-app"};
  testing::Pty pty_;
  Bytes stream_;
  std::vector<Bytes> expected_;
  std::string log_;
  pid_t pid_ = -1;
};

TEST_F(ReliabilityTest, LongStreamArrivesCompleteInTheRawLog) {
  std::size_t expected_size = 0;
  for (const Bytes& frame : expected_) expected_size += frame.size();
  std::mt19937 rng(7);  // pieces of random size, each written as soon as the line takes it
  for (std::size_t pos = 0, n = 0; pos < stream_.size(); pos += n) {
    n = std::min<std::size_t>(1 + rng() % 4096, stream_.size() - pos);
    ASSERT_TRUE(pty_.Write(std::span(stream_).subspan(pos, n)));
  }
  EXPECT_TRUE(WaitUntil([&] { return LogSize() >= expected_size; }, 60s));

  ASSERT_EQ(::kill(pid_, SIGTERM), 0);
  const int status = WaitForExit(10s);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(WholeFramesIn(dir_.Contents(log_), expected_), static_cast<long>(expected_.size()));
  std::string check;
  EXPECT_EQ(WholeFramesArchived(ArchivedFrames(check)), static_cast<long>(expected_.size()));
  EXPECT_EQ(check, "ok");
}

TEST_F(ReliabilityTest, KilledMidStreamLeavesWholeFramesOnly) {
  // Writes until the program has logged a good part, then kills it while it reads.
  std::size_t written = 0;
  for (std::size_t n = 0; written < stream_.size() && LogSize() < 300'000; written += n) {
    n = std::min<std::size_t>(4096, stream_.size() - written);
    ASSERT_TRUE(pty_.Write(std::span(stream_).subspan(written, n)));
  }
  ASSERT_LT(written, stream_.size());
  ASSERT_EQ(::kill(pid_, SIGKILL), 0);
  ASSERT_NE(WaitForExit(10s), -1);
  const long logged = WholeFramesIn(dir_.Contents(log_), expected_);
  EXPECT_GT(logged, 100);
  // The archive opens whole and holds every frame up to the batch in flight.
  std::string check;
  const long archived = WholeFramesArchived(ArchivedFrames(check));
  EXPECT_EQ(check, "ok");
  EXPECT_GE(archived, logged - kArchiveBatchFrames);
}

// What the program is started with: a program run from such a child holds no right
// to set the clock in any of its capability sets, and cannot reach a server that
// listens on this machine's 127.0.0.1.
TEST(ProgramChildTest, ChildCannotSetTheClockNorReachTheMachine) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!testing::LeaveTheNetwork() || !testing::DropClockRights()) ::_exit(125);
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) ::_exit(124);
    ::dup2(out[1], STDOUT_FILENO);
    ::execl("/bin/cat", "cat", "/proc/self/status", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string status;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) status.append(buffer, n);
  ::close(out[0]);
  ::close(listener);
  int wait_status = 0;
  ASSERT_EQ(::waitpid(pid, &wait_status, 0), pid);
  ASSERT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) << wait_status;
  for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapBnd", "CapAmb"}) {
    const std::size_t at = status.find(std::string(set) + ":");
    ASSERT_NE(at, std::string::npos) << set;
    const unsigned long long bits = std::stoull(status.substr(at + 8, 16), nullptr, 16);
    EXPECT_EQ(bits & (1ull << 25), 0u) << set;  // CAP_SYS_TIME
  }
  EXPECT_NE(status.find("NoNewPrivs:\t1"), std::string::npos);
}

}  // namespace
}  // namespace zevrin
