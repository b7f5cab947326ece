// The real desktop program shares the satellite's frames with a web server the test
// runs on 127.0.0.1, and frames it had queued when it was killed go out after its
// next start. The program runs in a temporary directory on a pseudo-terminal, cannot
// set the clock (CAP_SYS_TIME is dropped before it starts), and its sender may
// connect to nothing but 127.0.0.1.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "link/pty.h"
#include "outputs/share/http_post.h"
#include "outputs/share/share_queue.h"
#include "outputs/share/share_settings.h"
#include "sample/sample_pass.h"
#include "support/http_recorder.h"
#include "support/program_child.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sample::Bytes;
using testing::HttpRecorder;

template <typename Fn>
bool WaitUntil(Fn done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (; std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
    if (done()) return true;
  }
  return done();
}

// A TIME server that accepts and never answers, on the TIME port of a loopback
// address it can have to itself (the program's time client always asks port 37).
// The program is pointed at that address, so it reaches no time server but this.
class SilentTimeServer {
 public:
  SilentTimeServer() {
    for (std::uint32_t host = 1; host < 32 && fd_ < 0; ++host) {
      fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK + host - 1);  // 127.0.0.1, .2, ...
      address.sin_port = htons(37);
      if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
          ::listen(fd_, 4) == 0) {
        address_ = "127.0.0." + std::to_string(host);
      } else {
        ::close(fd_);
        fd_ = -1;
      }
    }
  }
  ~SilentTimeServer() {
    if (fd_ >= 0) ::close(fd_);
  }
  /// The address it listens on; empty when every one was taken.
  const std::string& address() const { return address_; }

 private:
  int fd_ = -1;
  std::string address_;
};

class ShareAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (time_server_.address().empty()) {
      GTEST_SKIP() << "another program holds the TIME port on every loopback address";
    }
    ASSERT_TRUE(pty_.ok());
    fs::create_symlink(pty_.slave_path(), dir_ / "com1");
    dir_.Write("zevrinkiss.ini", "01,9600,N,8,1\r\n" + time_server_.address() + "\r\nShr\r\n");
    ShareSettings settings;
    settings.enabled = true;
    settings.station = {"DL1ABC", 49.73145, 8.95564, 99999};
    settings.servers = {{server_.url(), ""}};
    ASSERT_EQ(WriteShareSettings((dir_ / "zevrinkiss-share.ini").string(), settings), std::nullopt);
    fs::copy_file(ZEVRINKISS_EXECUTABLE, dir_ / "zevrinkiss");  // its logs land beside it
  }
  void TearDown() override { Stop(SIGKILL); }

  void Start() {
    pid_ = ::fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      // The program must never set this machine's clock.
      if (!testing::DropClockRights()) ::_exit(125);
      if (::chdir(dir_.path().c_str()) != 0) ::_exit(126);
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      ::setenv(kLoopbackOnlyVariable, "1", 1);
      if (std::freopen("program.out", "a", stderr) == nullptr) ::_exit(126);
      ::execl("./zevrinkiss", "zevrinkiss", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The program opens its raw log once the port is open.
    ASSERT_TRUE(WaitUntil([&] { return !dir_.Files(".kss").empty(); }, 10s));
  }
  void Stop(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::int64_t Waiting() {
    std::string error;
    auto queue = ShareQueue::Open((dir_ / "Shr_archive.sqlite").string(), error, false);
    return queue ? queue->Counts(server_.url()).waiting : -1;
  }

  SilentTimeServer time_server_;
  testing::TempDir dir_{"zevrinkiss-share"};
  testing::Pty pty_;
  HttpRecorder server_;
  pid_t pid_ = -1;
};

TEST_F(ShareAppTest, FramesQueuedWhenKilledAreSentAfterTheNextStart) {
  // The first request is taken and never answered: the rest wait in the queue.
  server_.Script({{0, "", true}});
  Start();
  sample::Ax25Frame other = sample::SatelliteFrame({1, 2, 3, 4, 5, 6, 7});
  other.source = {"QQ2XYZ", 0, false};
  for (int n = 0; n < 10; ++n) {
    ASSERT_TRUE(pty_.Write(
        sample::KissFrame(sample::SatelliteFrame(sample::SatellitePayload(n, 'S', n, 0, 40)))));
    ASSERT_TRUE(pty_.Write(sample::KissFrame(other)));  // never shared
  }
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 10; }, 20s)) << Waiting();
  ASSERT_TRUE(server_.WaitFor(1, 10s));
  Stop(SIGKILL);
  EXPECT_EQ(server_.count(), 1u);

  server_.Script({});
  Start();
  ASSERT_TRUE(server_.WaitFor(11, 30s)) << server_.count();
  ASSERT_TRUE(WaitUntil([&] { return Waiting() == 0; }, 10s));
  Stop(SIGTERM);
  const auto requests = server_.requests();
  EXPECT_EQ(requests.size(), 11u) << "the unanswered frame twice, the others once";
  std::set<std::string> frames;
  for (const auto& r : requests) frames.insert(testing::FormFields(r.body).at("frame"));
  EXPECT_EQ(frames.size(), 10u);
  for (const std::string& frame : frames) {
    EXPECT_EQ(frame.substr(14, 14), "A2A260A682A861") << "from QQ0SAT only";
  }
}

}  // namespace
}  // namespace zevrin
