// zevrinkiss-decode as an unattended station: reading a pipe, a KISS-over-TCP server
// the test runs on 127.0.0.1, or a pseudo-terminal, with its raw log, stopped by
// signals.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "link/pty.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "support/kiss_server.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/tool_process.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sample::Bytes;
using testing::Concat;
using ::testing::HasSubstr;
using testing::KissServer;
using testing::WaitUntil;

using testing::Count;

bool ExitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

// Noise, a frame whose start was missed, then a pass.
const Bytes& Pass() {
  static const Bytes pass = [] {
    Bytes b = {'c', 'm', 'd', ':', 0xC0, 0x00};
    const Bytes frames = sample::MakePass({.frames = 400});
    b.insert(b.end(), frames.begin(), frames.end());
    return b;
  }();
  return pass;
}

class LiveToolTest : public ::testing::Test {
 protected:
  // Starts the tool with `args`, standard input from the FIFO `in` when given; its
  // output goes to out.txt and err.txt.
  void Spawn(const std::vector<std::string>& args, const std::string& in = "") {
    std::string command = std::string("exec ") + ZEVRIN_DECODE_BINARY;
    for (const std::string& a : args) command += " '" + a + "'";
    if (!in.empty()) command += " <" + in;
    ASSERT_TRUE(
        tool_.Start({"/bin/sh", "-c", command}, dir_.Path("out.txt"), dir_.Path("err.txt")));
  }
  // The wait status once the tool has ended (after `signal`, 0 for none), or -1.
  int Stop(int signal) { return tool_.Stop(signal, 10s); }
  std::string Err() const { return dir_.Contents("err.txt"); }
  std::string Out() const { return dir_.Contents("out.txt"); }
  std::string RawLog() const { return dir_.Contents("pass.kss"); }
  std::string RawLogPath() const { return dir_.Path("pass.kss"); }
  // What the tool prints for `stream` read from a file.
  std::string FromFile(const Bytes& stream) {
    const testing::ToolRun run =
        testing::RunDecode(dir_, "--format csv " + dir_.WriteBytes("file.kss", stream));
    EXPECT_EQ(run.status, 0);
    return run.out;
  }

  testing::TempDir dir_{"decode-live"};
  testing::ToolProcess tool_;
};

// A live source, a pipe or a TCP link (true), shows every frame, whole, as soon
// as its closing FEND has come and nothing of a frame still open; the CSV header
// shows before any frame. Cut at random, the stream gives what the same bytes give
// from a file, and the TCP link's raw log holds every frame byte for byte.
class LiveSourceTest : public LiveToolTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LiveSourceTest, EachFrameShowsAtOnceAndTheWholeIsLikeAFile) {
  const bool tcp = GetParam();
  const std::vector<Bytes> pass = testing::LoggedFrames(Pass());
  Bytes stream;
  for (std::size_t k = 0; k < 8; ++k) stream.insert(stream.end(), pass[k].begin(), pass[k].end());
  const std::size_t framed = stream.size();
  stream.insert(stream.end(), Pass().begin(), Pass().end());
  KissServer server;
  const std::string fifo = dir_.Path("in.fifo");
  int writer = -1;
  if (tcp) {
    Spawn({"--connect", "127.0.0.1:" + std::to_string(server.port()), "--raw-log", RawLogPath(),
           "--format", "csv"});
    ASSERT_TRUE(server.Accept(10000));
  } else {
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Spawn({"--format", "csv"}, fifo);
    ASSERT_GE(writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC), 0);
  }
  const auto send = [&](std::span<const std::uint8_t> bytes) {
    if (tcp) return server.Send(bytes);
    return ::write(writer, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  };
  std::string want = FromFile({});
  EXPECT_TRUE(WaitUntil([&] { return Out() == want; }, 10s)) << Out();
  for (std::size_t at = 0, k = 0; at < framed; at += pass[k++].size()) {
    const std::size_t half = pass[k].size() / 2;
    ASSERT_TRUE(send(std::span(stream).subspan(at, half)));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Out(), want) << "frame " << k << " shown before its end";
    ASSERT_TRUE(send(std::span(stream).subspan(at + half, pass[k].size() - half)));
    want = FromFile(Bytes(stream.begin(), stream.begin() + static_cast<long>(at + pass[k].size())));
    EXPECT_TRUE(WaitUntil([&] { return Out() == want; }, 10s)) << "frame " << k;
  }
  std::mt19937 rng(11);  // the rest in pieces of random size
  for (std::size_t at = framed, n = 0; at < stream.size(); at += n) {
    n = std::min<std::size_t>(1 + rng() % 700, stream.size() - at);
    ASSERT_TRUE(send(std::span(stream).subspan(at, n)));
  }
  if (tcp) {
    const std::string logged = Concat(testing::LoggedFrames(stream));
    ASSERT_TRUE(WaitUntil([&] { return RawLog().size() == logged.size(); }, 20s));
    EXPECT_TRUE(ExitedWith(Stop(SIGTERM), 0));
    EXPECT_TRUE(RawLog() == logged);
    EXPECT_EQ(server.BytesFromClient(), 0u);  // a quiet client
  } else {
    ::close(writer);
    EXPECT_TRUE(ExitedWith(Stop(0), 0));
  }
  EXPECT_EQ(Out(), FromFile(stream));
}
INSTANTIATE_TEST_SUITE_P(PipeAndTcp, LiveSourceTest, ::testing::Values(false, true));

// Seconds of processor time that this process's ended children have used.
double ChildrenCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// With alarms a live link is watched while no byte comes: a silence counts only
// while the link is up, is raised by the clock and cleared by the satellite's next
// frame, each also as a JSON line.
TEST_F(LiveToolTest, ASilenceCountsWhileTheLinkIsUpAndIsRaisedWithoutAFrame) {
  dir_.Write("rules.ini", "no satellite frame for 1 s while link up : watch\n");
  const std::uint16_t port = KissServer::FreePort();
  Spawn({"--connect", "127.0.0.1:" + std::to_string(port), "--alarms", dir_.Path("rules.ini"),
         "--format", "json"});
  std::this_thread::sleep_for(3500ms);  // refused all along: the link is down
  EXPECT_EQ(Err().find("alarm"), std::string::npos) << Err();
  KissServer server(port);
  ASSERT_TRUE(server.Accept(5000));
  EXPECT_TRUE(WaitUntil([&] { return Count(Err(), "alarm raised") == 1; }, 5s)) << Err();
  ASSERT_TRUE(server.Send(sample::KissFrame(sample::SatelliteFrame({1, 2, 3}))));
  EXPECT_TRUE(WaitUntil([&] { return Count(Err(), "alarm cleared") == 1; }, 5s)) << Err();
  EXPECT_TRUE(ExitedWith(Stop(SIGTERM), 0));
  EXPECT_EQ(Count(Out(), "{\"alarm\":"), 2u) << Out();
}

// The TNC is not up yet, then drops the link twice: the tool tries again every 3 s
// on an idle processor, tells each outage once (a connection too short to last
// ends none) and its end once the link has lasted 3 s; the frame cut by a drop is
// never logged nor joined to bytes of the next connection.
TEST_F(LiveToolTest, RetriesEvery3sTellsEachOutageOnceAndDropsTheCutFrame) {
  const std::vector<Bytes> frames = testing::LoggedFrames(sample::MakePass({.frames = 40}));
  const std::string first = Concat(std::vector<Bytes>(frames.begin(), frames.begin() + 20));
  const Bytes& cut = frames[20];
  const std::uint16_t port = KissServer::FreePort();
  const double cpu_before = ChildrenCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  Spawn({"--connect", "127.0.0.1:" + std::to_string(port), "--raw-log", RawLogPath(), "--format",
         "json"});
  std::this_thread::sleep_for(3500ms);
  EXPECT_THAT(Err(), HasSubstr(": cannot connect (Connection refused); trying again every 3 s\n"));
  KissServer server(port);
  ASSERT_TRUE(server.Accept(4000));
  ASSERT_TRUE(server.Send(Bytes(first.begin(), first.end())));
  ASSERT_TRUE(server.Send(std::span(cut).first(30)));
  ASSERT_TRUE(WaitUntil([&] { return Count(Err(), " connected again") == 1; }, 10s)) << Err();
  EXPECT_EQ(RawLog(), first);
  // Dropped after it lasted, the link is tried again within 4 s; dropped at once,
  // 3 s after that attempt.
  server.CloseClient();
  ASSERT_TRUE(server.Accept(4000));
  const auto attempt = std::chrono::steady_clock::now();
  server.CloseClient();
  ASSERT_TRUE(server.Accept(6000));
  EXPECT_GE(std::chrono::steady_clock::now() - attempt, 2900ms);
  EXPECT_LE(std::chrono::steady_clock::now() - attempt, 3500ms);
  // The new connection begins inside a frame: those bytes are dropped.
  Bytes rest(cut.begin() + 30, cut.end());
  for (std::size_t k = 20; k < frames.size(); ++k)
    rest.insert(rest.end(), frames[k].begin(), frames[k].end());
  ASSERT_TRUE(server.Send(rest));
  EXPECT_TRUE(WaitUntil([&] { return Count(Err(), " connected again") == 2; }, 10s)) << Err();
  EXPECT_TRUE(ExitedWith(Stop(SIGINT), 0));
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(ChildrenCpuSeconds() - cpu_before, 0.05 * elapsed.count());
  EXPECT_TRUE(RawLog() == Concat(frames));
  EXPECT_EQ(Count(Out(), "\n"), frames.size());
  EXPECT_EQ(Count(Err(), " lost (closed by the server); trying again every 3 s\n"), 1u) << Err();
  EXPECT_EQ(Count(Err(), "\n"), 4u) << Err();
}

// A serial device (a comN link to a pseudo-terminal) in raw mode: every byte value
// arrives unchanged; when the line hangs up the tool ends with status 1.
TEST_F(LiveToolTest, SerialLineIsRawAndAHangUpEndsTheTool) {
  testing::Pty pty;
  ASSERT_TRUE(pty.ok());
  fs::create_symlink(pty.slave_path(), dir_ / "com1");
  Bytes stream = Pass();
  // Bytes a terminal in cooked mode would change or act on.
  for (const std::uint8_t b : {0x03, 0x0D, 0x11, 0x13, 0x1A, 0x7F}) {
    const Bytes f = sample::KissFrame(0x00, {0x41, b, 0x0A, b});
    stream.insert(stream.end(), f.begin(), f.end());
  }
  const std::string logged = Concat(testing::LoggedFrames(stream));
  Spawn({"--serial", dir_.Path("com1"), "--speed", "115200", "--raw-log", RawLogPath()});
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(RawLogPath()); }, 10s));
  ASSERT_TRUE(pty.Write(stream));
  EXPECT_TRUE(WaitUntil([&] { return RawLog().size() >= logged.size(); }, 20s));
  EXPECT_TRUE(RawLog() == logged);
  termios line{};  // as the tool set it
  const int fd = ::open(pty.slave_path().c_str(), O_RDONLY | O_NOCTTY);
  ASSERT_EQ(::tcgetattr(fd, &line), 0);
  ::close(fd);
  EXPECT_EQ(::cfgetispeed(&line), B115200);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
  pty.CloseMaster();
  EXPECT_TRUE(ExitedWith(Stop(0), 1));
  EXPECT_THAT(Err(), HasSubstr("the device is closed"));
}

}  // namespace
}  // namespace zevrin
