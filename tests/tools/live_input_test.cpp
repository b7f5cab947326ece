// zevrinkiss-decode as an unattended station: reading a KISS-over-TCP server the test
// runs on 127.0.0.1, or a pseudo-terminal, with its raw log, stopped by signals.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <regex>

#include "link/pty.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "support/kiss_server.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sample::Bytes;
using testing::Concat;
using ::testing::HasSubstr;
using testing::KissServer;
using testing::WaitUntil;
using testing::WholeFramesIn;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class LiveToolTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // Starts the tool with `args`; its output goes to out.txt and err.txt.
  void Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), ZEVRIN_DECODE_BINARY);
    const std::string out = (dir_ / "out.txt").string(), err = (dir_ / "err.txt").string();
    pid_ = ::fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(126);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  // Sends `signal` and returns the wait status, or -1 when the tool has not ended
  // within 10 s.
  int Stop(int signal) {
    ::kill(pid_, signal);
    int status = -1;
    if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 10s)) return -1;
    pid_ = -1;
    return status;
  }
  std::string Err() const { return dir_.Contents("err.txt"); }
  std::string Out() const { return dir_.Contents("out.txt"); }
  std::string RawLog() const { return dir_.Contents("pass.kss"); }
  std::string RawLogPath() const { return (dir_ / "pass.kss").string(); }
  // What the tool prints for `stream` read from a file.
  std::string FromFile(const Bytes& stream, const std::string& format) {
    dir_.Write("file.kss", std::string(stream.begin(), stream.end()));
    const std::string command = std::string(ZEVRIN_DECODE_BINARY) + " --format " + format + " " +
                                (dir_ / "file.kss").string() + " > " + (dir_ / "file.txt").string();
    EXPECT_EQ(std::system(command.c_str()), 0);
    return dir_.Contents("file.txt");
  }

  testing::TempDir dir_{"decode-live"};
  pid_t pid_ = -1;
};

const Bytes& Pass() {
  static const Bytes pass = [] {
    Bytes b = {'c', 'm', 'd', ':', 0xC0, 0x00};  // noise and a frame whose start was missed
    const Bytes frames = sample::MakePass({.frames = 400});
    b.insert(b.end(), frames.begin(), frames.end());
    return b;
  }();
  return pass;
}

// In every format the live stream, cut at random, gives what the same bytes give
// from a file; the raw log holds every frame byte for byte; SIGTERM ends the tool
// cleanly with everything written.
TEST_F(LiveToolTest, ConnectDecodesAndLogsLikeAFileInEveryFormat) {
  const std::vector<Bytes> frames = testing::LoggedFrames(Pass());
  std::mt19937 rng(11);
  for (const char* format : {"json", "csv", "monitor"}) {
    SCOPED_TRACE(format);
    fs::remove(RawLogPath());
    KissServer server;
    Spawn({"--connect", "127.0.0.1:" + std::to_string(server.port()), "--raw-log", RawLogPath(),
           "--format", format});
    ASSERT_TRUE(server.Accept(10000));
    ASSERT_TRUE(server.SendSplit(Pass(), rng));
    ASSERT_TRUE(WaitUntil([&] { return RawLog().size() == Concat(frames).size(); }, 20s));
    const int status = Stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(RawLog() == Concat(frames));
    EXPECT_EQ(server.BytesFromClient(), 0u);  // a quiet client
    std::string live = Out(), file = FromFile(Pass(), format);
    if (std::string(format) == "monitor") {
      // The monitor's time stamps differ between the runs.
      const std::regex time(R"(\d\d:\d\d:\d\d(\.\d+)?)");
      live = std::regex_replace(live, time, "T");
      file = std::regex_replace(file, time, "T");
    }
    EXPECT_EQ(live, file);
  }
}

// The TNC restarts: the frame cut by the drop is never logged nor joined to bytes of
// the next connection, which comes within 4 s; the loss is told once.
TEST_F(LiveToolTest, ConnectReconnectsAfterTheServerRestarts) {
  const std::vector<Bytes> frames = testing::LoggedFrames(sample::MakePass({.frames = 40}));
  const std::vector<Bytes> before(frames.begin(), frames.begin() + 20);
  const std::vector<Bytes> after(frames.begin() + 20, frames.end());
  KissServer server;
  const std::uint16_t port = server.port();
  Spawn({"--connect", "127.0.0.1:" + std::to_string(port), "--raw-log", RawLogPath(), "--format",
         "json"});
  ASSERT_TRUE(server.Accept(10000));
  const std::string first = Concat(before);
  ASSERT_TRUE(server.Send(Bytes(first.begin(), first.end())));
  ASSERT_TRUE(server.Send(Bytes(after[0].begin(), after[0].begin() + 30)));  // cut off
  ASSERT_TRUE(WaitUntil([&] { return RawLog().size() == first.size(); }, 10s));
  server.Stop();
  std::this_thread::sleep_for(500ms);

  ASSERT_TRUE(server.Listen(port));
  const auto restarted = std::chrono::steady_clock::now();
  ASSERT_TRUE(server.Accept(6000));
  EXPECT_LE(std::chrono::steady_clock::now() - restarted, 4s);
  // A new connection may begin inside a frame: those bytes are dropped.
  Bytes rest(after[0].begin() + 30, after[0].end());
  for (const Bytes& f : after) rest.insert(rest.end(), f.begin(), f.end());
  ASSERT_TRUE(server.Send(rest));
  std::vector<Bytes> logged = before;
  logged.insert(logged.end(), after.begin(), after.end());
  EXPECT_TRUE(WaitUntil([&] { return RawLog().size() >= Concat(logged).size(); }, 10s));
  // Told once the new connection has lasted 3 s.
  EXPECT_TRUE(WaitUntil([&] { return Count(Err(), " connected again") == 1; }, 10s)) << Err();
  const int status = Stop(SIGINT);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(WholeFramesIn(RawLog(), logged), static_cast<long>(logged.size()));
  EXPECT_EQ(Count(Out(), "\n"), logged.size());
  EXPECT_EQ(Count(Err(), " lost (closed by the server); trying again every 3 s"), 1u) << Err();
  EXPECT_EQ(Count(Err(), "\n"), 2u) << Err();
}

// Refused: one message for the whole outage and an idle processor. A server that
// takes every connection and drops it at once sees one attempt every 3 s.
TEST_F(LiveToolTest, ConnectTriesEvery3sWithoutBusyLoop) {
  const std::uint16_t port = KissServer::FreePort();
  const auto start = std::chrono::steady_clock::now();
  Spawn({"--connect", "127.0.0.1:" + std::to_string(port)});
  std::this_thread::sleep_for(6500ms);
  const int status = Stop(SIGTERM);
  const double elapsed_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  rusage usage{};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
  const double cpu_s = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  EXPECT_LT(cpu_s, 0.05 * elapsed_s);
  EXPECT_EQ(Count(Err(), "\n"), 1u) << Err();
  EXPECT_THAT(Err(), HasSubstr("cannot connect (Connection refused); trying again every 3 s"));

  KissServer dropping(port);
  Spawn({"--connect", "127.0.0.1:" + std::to_string(port)});
  std::vector<std::chrono::steady_clock::time_point> attempts;
  for (const auto until = std::chrono::steady_clock::now() + 6500ms;
       std::chrono::steady_clock::now() < until;) {
    if (dropping.Accept(100)) {
      attempts.push_back(std::chrono::steady_clock::now());
      dropping.CloseClient();
    }
  }
  ASSERT_GE(attempts.size(), 2u);
  EXPECT_LE(attempts.size(), 3u);
  for (std::size_t i = 1; i < attempts.size(); ++i) {
    EXPECT_GE(attempts[i] - attempts[i - 1], 2900ms);
    EXPECT_LE(attempts[i] - attempts[i - 1], 3500ms);
  }
  Stop(SIGTERM);
  EXPECT_EQ(Count(Err(), "\n"), 1u) << Err();
  EXPECT_THAT(Err(), HasSubstr(" lost (closed by the server)"));
}

// A serial device (a comN link to a pseudo-terminal) in raw mode: every byte value
// arrives unchanged; when the line hangs up the tool ends with status 1.
TEST_F(LiveToolTest, SerialReadsAPseudoTerminalThroughAComLink) {
  testing::Pty pty;
  ASSERT_TRUE(pty.ok());
  fs::create_symlink(pty.slave_path(), dir_ / "com1");
  Bytes stream = Pass();
  // Bytes a terminal in cooked mode would change or act on.
  for (const std::uint8_t b : {0x03, 0x0D, 0x11, 0x13, 0x1A, 0x7F}) {
    const Bytes f = sample::KissFrame(0x00, {0x41, b, 0x0A, b});
    stream.insert(stream.end(), f.begin(), f.end());
  }
  const std::vector<Bytes> frames = testing::LoggedFrames(stream);
  Spawn({"--serial", (dir_ / "com1").string(), "--speed", "115200", "--raw-log", RawLogPath(),
         "--format", "json"});
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(RawLogPath()); }, 10s));
  ASSERT_TRUE(pty.Write(stream));
  EXPECT_TRUE(WaitUntil([&] { return RawLog().size() >= Concat(frames).size(); }, 20s));
  EXPECT_TRUE(RawLog() == Concat(frames));
  termios line{};  // as the tool set it
  const int fd = ::open(pty.slave_path().c_str(), O_RDONLY | O_NOCTTY);
  ASSERT_EQ(::tcgetattr(fd, &line), 0);
  ::close(fd);
  EXPECT_EQ(::cfgetispeed(&line), B115200);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
  pty.CloseMaster();
  int status = -1;
  ASSERT_TRUE(WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 10s));
  pid_ = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(Count(Out(), "\n"), frames.size());
  EXPECT_THAT(Err(), HasSubstr("the device is closed"));
}

// Killed while frames stream in, the raw log holds whole frames only.
TEST_F(LiveToolTest, RawLogHoldsWholeFramesOnlyAfterSigkill) {
  Bytes stream;
  const Bytes pass = sample::MakePass({});
  while (stream.size() < 4'000'000) stream.insert(stream.end(), pass.begin(), pass.end());
  const std::vector<Bytes> frames = testing::LoggedFrames(stream);
  KissServer server;
  Spawn({"--connect", "127.0.0.1:" + std::to_string(server.port()), "--raw-log", RawLogPath(),
         "--format", "csv"});
  ASSERT_TRUE(server.Accept(10000));
  std::size_t sent = 0;
  for (std::mt19937 rng(5); sent < stream.size() && RawLog().size() < 1'000'000;) {
    const std::size_t n = std::min<std::size_t>(1 + rng() % 5000, stream.size() - sent);
    ASSERT_TRUE(server.Send(std::span(stream).subspan(sent, n)));
    sent += n;
  }
  const int status = Stop(SIGKILL);
  EXPECT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_GT(WholeFramesIn(RawLog(), frames), 1000);
}

// Options that cannot work end the tool at once with status 2 and the reason.
TEST_F(LiveToolTest, BadLiveOptionsAreRefused) {
  const std::string port = std::to_string(KissServer::FreePort());
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--connect", "127.0.0.1"}, "is no HOST:PORT"},
      {{"--connect", "127.0.0.1:0"}, "is no HOST:PORT"},
      {{"--connect", "::1:8001"}, "is no HOST:PORT"},
      {{"--connect"}, "--connect needs a value"},
      {{"--serial", "/dev/null"}, "not a serial device"},
      {{"--serial", (dir_ / "none").string()}, "No such file or directory"},
      {{"--serial", "/dev/null", "--speed", "12345"}, "unsupported speed"},
      {{"--speed", "9600"}, "--speed needs --serial"},
      {{"--connect", "127.0.0.1:" + port, "--serial", "/dev/null"}, "exclude each other"},
      {{"--connect", "127.0.0.1:" + port, "in.kss"}, "reads no files"},
      {{"--connect", "127.0.0.1:" + port, "--raw-log", (dir_ / "no" / "x.kss").string()},
       "cannot write the raw log"},
  };
  for (const auto& [args, reason] : cases) {
    Spawn(args);
    int status = -1;
    ASSERT_TRUE(WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 10s))
        << reason;
    pid_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << reason;
    EXPECT_THAT(Err(), HasSubstr(reason));
  }
}

}  // namespace
}  // namespace zevrin
