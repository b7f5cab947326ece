// The real desktop program: a copy of zevrinkiss runs in a temporary directory (its
// logs go next to the executable) on a pseudo-terminal. It runs without the right
// to set the clock, in a network of its own, where no time server can answer.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "link/pty.h"
#include "outputs/share/http_post.h"
#include "sample/sample_pass.h"
#include "station/station.h"
#include "support/archive_db.h"
#include "support/fakes.h"
#include "support/kiss_server.h"
#include "support/program_child.h"
#include "support/temp_dir.h"
#include "support/tool_process.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sample::Bytes;
using testing::WaitUntil;
using testing::WholeFramesIn;

class ProgramTest : public ::testing::Test {
 protected:
  // Puts the program into the directory with `ini` as its settings and com1 as the
  // pseudo-terminal.
  void Install(const std::string& ini) {
    ASSERT_TRUE(pty_.ok());
    fs::create_symlink(pty_.slave_path(), dir_ / "com1");
    dir_.Write("zevrinkiss.ini", ini);
    fs::copy_file(ZEVRINKISS_EXECUTABLE, dir_ / "zevrinkiss");  // with its permissions
  }
  // Starts it in a network of its own and waits for its raw log, which it creates
  // once the port is open.
  void Start() {
    ASSERT_TRUE(
        program_.Start({"./zevrinkiss"}, dir_.Path("program.out"), dir_.Path("program.err"), [&] {
          ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
          ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);  // no desktop notifications
          ::setenv(kLoopbackOnlyVariable, "1", 1);
          return testing::LeaveTheNetwork() && ::chdir(dir_.path().c_str()) == 0;
        }));
    // Once it runs the program, it holds no right to set the clock in any of its
    // capability sets, and has a network of its own.
    const std::string proc = "/proc/" + std::to_string(program_.pid()) + "/";
    std::error_code ignored;
    ASSERT_TRUE(WaitUntil(
        [&] { return fs::read_symlink(proc + "exe", ignored) == dir_ / "zevrinkiss"; }, 10s));
    std::ifstream in(proc + "status");
    const std::string status{std::istreambuf_iterator<char>(in), {}};
    for (const char* set : {"CapInh:", "CapPrm:", "CapEff:", "CapBnd:", "CapAmb:"}) {
      const std::size_t at = status.find(set);
      ASSERT_NE(at, std::string::npos) << set;
      EXPECT_EQ(std::stoull(status.substr(at + 8, 16), nullptr, 16) & (1ull << CAP_SYS_TIME), 0u)
          << set;
    }
    EXPECT_NE(status.find("NoNewPrivs:\t1"), std::string::npos);
    EXPECT_NE(fs::read_symlink(proc + "ns/net"), fs::read_symlink("/proc/self/ns/net"));
    ASSERT_TRUE(WaitUntil([&] { return !dir_.Files(".kss").empty(); }, 10s));
  }
  // The wait status after `signal`, or -1 when the program has not ended within 10 s.
  int Stop(int signal) { return program_.Stop(signal, 10s); }

  testing::TempDir dir_{"zevrinkiss-app"};
  testing::Pty pty_;
  testing::ToolProcess program_;
};

class ReliabilityTest : public ProgramTest {
 protected:
  void SetUp() override {
    // About five minutes of a 115,200-baud line: noise and a frame whose start was
    // missed, the sample pass over and over, and a frame still open at the end.
    const Bytes pass = sample::MakePass({});
    stream_ = {'A', 'B', 0xC0, 0x00};
    while (stream_.size() < 3'500'000) stream_.insert(stream_.end(), pass.begin(), pass.end());
    stream_.insert(stream_.end(), {0xC0, 0x00, 0x43});
    expected_ = testing::LoggedFrames(stream_);
    // Nothing can answer on 127.0.0.1 in the program's own network.
    Install("01,115200,N,8,1\r\n127.0.0.1\r\nRel\r\n");
    Start();
    log_ = dir_.Files(".kss").front();
  }
  std::uintmax_t LogSize() const { return fs::file_size(dir_ / log_); }
  // How many of the expected frames the archive holds, in order from the first; -1
  // when it holds anything else. `check` gets its integrity check.
  long FramesArchived(std::string& check) const {
    const testing::Db db(dir_.Path("Rel_archive.sqlite"));
    check = db.One("PRAGMA integrity_check");
    const auto rows = db.Rows("SELECT bytes FROM frames ORDER BY id");
    for (std::size_t k = 0; k < rows.size(); ++k)
      if (k >= expected_.size() ||
          rows[k][0] != std::string(expected_[k].begin(), expected_[k].end()))
        return -1;
    return static_cast<long>(rows.size());
  }

  Bytes stream_;
  std::vector<Bytes> expected_;
  std::string log_;
};

TEST_F(ReliabilityTest, LongStreamArrivesCompleteInTheRawLogAndTheArchive) {
  std::mt19937 rng(7);  // pieces of random size, each written as soon as the line takes it
  for (std::size_t pos = 0, n = 0; pos < stream_.size(); pos += n) {
    n = std::min<std::size_t>(1 + rng() % 4096, stream_.size() - pos);
    ASSERT_TRUE(pty_.Write(std::span(stream_).subspan(pos, n)));
  }
  const std::size_t size = testing::Concat(expected_).size();
  EXPECT_TRUE(WaitUntil([&] { return LogSize() >= size; }, 60s));
  const int status = Stop(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(WholeFramesIn(dir_.Contents(log_), expected_), static_cast<long>(expected_.size()));
  std::string check;
  EXPECT_EQ(FramesArchived(check), static_cast<long>(expected_.size()));
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
  ASSERT_NE(Stop(SIGKILL), -1);
  const long logged = WholeFramesIn(dir_.Contents(log_), expected_);
  EXPECT_GT(logged, 100);
  // The archive opens whole and holds the first frames of the raw log, in order.
  // Frames still queued for the archive's thread at the kill are in the raw log
  // only; how many depends on how busy the machine is.
  std::string check;
  const long archived = FramesArchived(check);
  EXPECT_GT(archived, 0);
  EXPECT_LE(archived, logged);
  EXPECT_EQ(check, "ok");
}

}  // namespace
}  // namespace zevrin
