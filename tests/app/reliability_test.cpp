// The real program under load: a copy of zevrinkiss runs in a temporary directory
// (its logs go next to the executable) on a pseudo-terminal, and takes a long
// stream written as fast as it reads it. Its raw log must hold every complete frame.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "link/pty.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sample::Bytes;

// About five minutes of a 115,200-baud line.
constexpr std::size_t kStreamBytes = 3'500'000;

// How many of `frames` the log holds, whole and in order from the first; -1 when it
// holds anything else, such as a frame cut off or a byte after the last whole frame.
long WholeFramesIn(const Bytes& log, const std::vector<Bytes>& frames) {
  std::size_t pos = 0;
  std::size_t n = 0;
  for (; pos < log.size(); pos += frames[n++].size()) {
    if (n == frames.size() || log.size() - pos < frames[n].size() ||
        !std::equal(frames[n].begin(), frames[n].end(),
                    log.begin() + static_cast<std::ptrdiff_t>(pos))) {
      return -1;
    }
  }
  return static_cast<long>(n);
}

Bytes LongStream() {
  const Bytes pass = sample::MakePass({});
  Bytes stream;
  while (stream.size() < kStreamBytes) stream.insert(stream.end(), pass.begin(), pass.end());
  return stream;
}

class ReliabilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_);
    ASSERT_TRUE(pty_.ok());
    fs::create_symlink(pty_.slave_path(), dir_ / "com1");
    // Nothing listens on the time port of this host, so no network is tried.
    std::ofstream(dir_ / "zevrinkiss.ini", std::ios::binary)
        << "01,115200,N,8,1\r\n127.0.0.1\r\nRel\r\n";
    fs::copy_file(ZEVRINKISS_EXECUTABLE, dir_ / "zevrinkiss");
    fs::permissions(dir_ / "zevrinkiss", fs::perms::owner_all);
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    fs::remove_all(dir_);
  }

  void StartProgram() {
    pid_ = ::fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      if (::chdir(dir_.c_str()) != 0) ::_exit(126);
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      std::FILE* out = std::freopen("program.out", "w", stderr);
      (void)out;
      ::execl("./zevrinkiss", "zevrinkiss", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }

  // The exit status, or nullopt when the program has not ended within `timeout`.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) {
      return std::nullopt;
    }
    pid_ = -1;
    return status;
  }

  // The raw log: the program creates it once the port is open.
  std::optional<fs::path> RawLog() const {
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("Rel_", 0) == 0 && e.path().extension() == ".kss") return e.path();
    }
    return std::nullopt;
  }
  template <typename Fn>
  static bool WaitUntil(Fn done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (; std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(10ms)) {
      if (done()) return true;
    }
    return false;
  }
  static Bytes Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  const fs::path dir_ =
      fs::temp_directory_path() / ("zevrinkiss-app-" + std::to_string(::getpid()) + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  testing::Pty pty_;
  pid_t pid_ = -1;
};

TEST_F(ReliabilityTest, LongStreamArrivesCompleteInTheRawLog) {
  const Bytes stream = LongStream();
  const std::vector<Bytes> expected = testing::LoggedFrames(stream);
  std::size_t expected_size = 0;
  for (const Bytes& frame : expected) expected_size += frame.size();

  StartProgram();
  ASSERT_TRUE(WaitUntil([&] { return RawLog().has_value(); }, 10s));
  ASSERT_TRUE(pty_.Write(stream));
  const fs::path log = *RawLog();
  EXPECT_TRUE(WaitUntil([&] { return fs::file_size(log) >= expected_size; }, 60s));

  ASSERT_EQ(::kill(pid_, SIGTERM), 0);
  const std::optional<int> status = WaitForExit(10s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;

  EXPECT_EQ(WholeFramesIn(Read(log), expected), static_cast<long>(expected.size()));
}

TEST_F(ReliabilityTest, KilledMidStreamLeavesWholeFramesOnly) {
  const Bytes stream = LongStream();
  const std::vector<Bytes> expected = testing::LoggedFrames(stream);

  StartProgram();
  ASSERT_TRUE(WaitUntil([&] { return RawLog().has_value(); }, 10s));
  const fs::path log = *RawLog();
  // Writes until the program has logged a good part, then kills it while it reads.
  constexpr std::size_t kChunk = 4096;
  std::size_t written = 0;
  while (written < stream.size() && fs::file_size(log) < 300'000) {
    const std::size_t n = std::min(kChunk, stream.size() - written);
    ASSERT_TRUE(pty_.Write(std::span(stream).subspan(written, n)));
    written += n;
  }
  ASSERT_LT(written, stream.size());  // killed mid-stream
  ASSERT_EQ(::kill(pid_, SIGKILL), 0);
  ASSERT_TRUE(WaitForExit(10s).has_value());

  EXPECT_GT(WholeFramesIn(Read(log), expected), 100);
}

}  // namespace
}  // namespace zevrin
