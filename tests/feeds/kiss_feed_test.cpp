// zevrinkiss-decode serving KISS on: three programs connect, one never reads; the
// station records every frame all the same and the two others get every frame
// byte for byte.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "frames/kiss_frames.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "support/kiss_server.h"
#include "support/temp_dir.h"
#include "support/tool_process.h"

namespace zevrin {
namespace {

using namespace std::chrono_literals;
using testing::WaitUntil;

// A program that connects to the served port; it reads on a thread of its own
// unless told not to, and with `chatter` sends bytes of its own now and then.
class Client {
 public:
  Client(std::uint16_t port, bool reads, bool chatter = false) {
    fd_ = testing::ConnectLoopback(port, reads ? 0 : 2048);  // a small buffer fills at once
    connected_ = fd_ >= 0;
    if (reads) thread_ = std::thread([this, chatter] { Read(chatter); });
  }
  ~Client() {
    ::shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  bool connected() const { return connected_; }
  std::string Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  // Reads what is left until the other side closes (for the one that never read).
  std::string ReadToEnd() {
    Read(false);
    return Received();
  }

 private:
  void Read(bool chatter) {
    char buffer[8192];
    const std::string noise = "\xC0\x00not a frame for the TNC\xC0 KISS OFF\r";
    for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
      std::lock_guard lock(mutex_);
      received_.append(buffer, static_cast<std::size_t>(n));
      if (chatter) ::send(fd_, noise.data(), noise.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
  }

  int fd_ = -1;
  bool connected_ = false;
  std::thread thread_;
  std::mutex mutex_;
  std::string received_;
};

TEST(KissFeedTest, AStalledClientHoldsUpNoOneAndSeesOnlyWholeFrames) {
  testing::TempDir dir("kiss-feed");
  testing::KissServer tnc;
  const std::uint16_t port = testing::KissServer::FreePort();
  testing::ToolProcess tool;
  const std::string err = dir.Path("err.txt");
  ASSERT_TRUE(
      tool.Start({ZEVRIN_DECODE_BINARY, "--connect", "127.0.0.1:" + std::to_string(tnc.port()),
                  "--raw-log", dir.Path("raw.kss"), "--serve-kiss", std::to_string(port)},
                 dir.Path("out.txt"), err));
  ASSERT_TRUE(tnc.Accept(10000));
  ASSERT_TRUE(WaitUntil([&] { return testing::Accepting(port); }, 10s));
  Client reader(port, true);
  Client chatty(port, true, true);
  Client stalled(port, false);
  ASSERT_TRUE(reader.connected() && chatty.connected() && stalled.connected());
  ASSERT_TRUE(WaitUntil(
      [&] { return dir.Contents("err.txt").find("(3 client(s))") != std::string::npos; }, 10s))
      << dir.Contents("err.txt");

  // Frames with escaped bytes among them, far more than the stalled client's room,
  // and KISS time stamps, which are passed on as they came too.
  std::vector<sample::Bytes> frames;
  std::int64_t stamp_ms = 1796611369347;
  for (sample::Bytes& frame : testing::LoggedFrames(sample::MakePass({.frames = 8000}))) {
    if (frames.size() % 50 == 0) {
      AppendKissTimestampFrame(frames.emplace_back(), stamp_ms += 1000);
    }
    frames.push_back(std::move(frame));
  }
  const std::string all = testing::Concat(frames);
  ASSERT_GT(all.size(), 800000u);
  ASSERT_NE(all.find("\xDB\xDC"), std::string::npos);
  // Sent in pieces that the two readers take before the next comes.
  std::size_t sent = 0;
  for (std::size_t k = 0; k < frames.size(); ++k) {
    ASSERT_TRUE(tnc.Send(frames[k]));
    sent += frames[k].size();
    if (k % 200 == 199 || k + 1 == frames.size()) {
      ASSERT_TRUE(WaitUntil(
          [&] { return reader.Received().size() == sent && chatty.Received().size() == sent; },
          20s))
          << "frame " << k << ": " << reader.Received().size() << " of " << sent;
    }
  }
  EXPECT_EQ(dir.Contents("raw.kss"), all);  // the station missed nothing
  EXPECT_EQ(reader.Received(), all);
  EXPECT_EQ(chatty.Received(), all);
  EXPECT_EQ(tnc.BytesFromClient(), 0u);  // nothing of the chatter reached the TNC
  EXPECT_THAT(dir.Contents("err.txt"), ::testing::HasSubstr("cannot keep up"));

  ASSERT_TRUE(WIFEXITED(tool.Stop(SIGTERM)));
  const std::string held = stalled.ReadToEnd();
  const long whole = testing::WholeFramesIn(held, frames);
  EXPECT_GT(whole, 0);
  EXPECT_LT(whole, static_cast<long>(frames.size()));
  EXPECT_THAT(dir.Contents("err.txt"),
              ::testing::HasSubstr(
                  "served " + std::to_string(frames.size()) + " frame(s) as KISS; " +
                  std::to_string(frames.size() - static_cast<std::size_t>(whole)) + " dropped"));
}

}  // namespace
}  // namespace zevrin
