// zevrinkiss-decode on a live KISS-over-TCP stream against the same stream read from
// a file: a generated pass of 100,000 frames (about 12 MB) served once from
// 127.0.0.1 at a free port, and decoded with the output thrown away.
//   bench_connect [--format monitor|json|csv] [--runs N]
// Prints the best time of each way and the live speed as a share of the file speed.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "sample/sample_pass.h"

namespace {

namespace sample = zevrin::sample;
using Clock = std::chrono::steady_clock;

pid_t Spawn(std::vector<std::string> args, int stderr_fd) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    if (stderr_fd >= 0) ::dup2(stderr_fd, 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Decodes the file; the time includes starting the program.
double FromFile(const std::string& file, const std::string& format) {
  const auto start = Clock::now();
  const pid_t pid = Spawn({ZEVRIN_DECODE_BINARY, "--format", format, file}, -1);
  ::waitpid(pid, nullptr, 0);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Decodes the stream as a server sends it; the time runs from starting the program
// until it reports the server's close, which it reads only after the last byte.
double OverTcp(const sample::Bytes& stream, const std::string& format) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 1) ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    std::perror("listen");
    std::exit(1);
  }
  int messages[2];
  if (::pipe2(messages, O_CLOEXEC) != 0) std::exit(1);
  const auto start = Clock::now();
  const pid_t pid = Spawn({ZEVRIN_DECODE_BINARY, "--connect",
                           "127.0.0.1:" + std::to_string(ntohs(a.sin_port)), "--format", format},
                          messages[1]);
  ::close(messages[1]);
  const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  for (std::size_t done = 0; done < stream.size();) {
    const ssize_t n = ::send(client, stream.data() + done, stream.size() - done, MSG_NOSIGNAL);
    if (n <= 0) std::exit(1);
    done += static_cast<std::size_t>(n);
  }
  ::close(client);
  std::string text;
  char buffer[512];
  for (ssize_t n; text.find(" lost (") == std::string::npos &&
                  (n = ::read(messages[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  ::close(messages[0]);
  ::close(listener);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  std::string format = "json";
  int runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--format") format = argv[i + 1];
    if (arg == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
  }
  const sample::Bytes stream = sample::MakePass({.frames = 100000});
  char dir[] = "/tmp/bench-connect-XXXXXX";
  if (::mkdtemp(dir) == nullptr) return 1;
  const std::string file = std::string(dir) + "/stream.kss";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(stream.data()),
             static_cast<std::streamsize>(stream.size()));

  double best_file = 1e9, best_tcp = 1e9;
  for (int r = 0; r < runs; ++r) {
    best_file = std::min(best_file, FromFile(file, format));
    best_tcp = std::min(best_tcp, OverTcp(stream, format));
  }
  ::unlink(file.c_str());
  ::rmdir(dir);
  const double mb = static_cast<double>(stream.size()) / 1e6;
  std::printf("stream: 100000 frames, %.1f MB, --format %s, best of %d runs\n", mb, format.c_str(),
              runs);
  std::printf("file:           %.3f s  %.1f MB/s\n", best_file, mb / best_file);
  std::printf("--connect:      %.3f s  %.1f MB/s\n", best_tcp, mb / best_tcp);
  std::printf("live speed:     %.0f %% of the file speed\n", 100.0 * best_file / best_tcp);
  return 0;
}
