// The KISS server passing frames on to 10 programs that read them, on 127.0.0.1:
// frames of a generated pass offered in bursts of 100 as the receive path would,
// timed until every client has every byte. Reports frames per second delivered
// to all ten, and the frames dropped (none expected).
//   bench_kiss_server [--benchmark_repetitions=N]

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "kiss/receive_path.h"
#include "outputs/kiss_server/kiss_server.h"
#include "sample/sample_pass.h"

namespace {

constexpr int kClients = 10;
constexpr int kFrames = 10000;
constexpr int kBurst = 100;

// The frames of a pass, cut at their FENDs as the receive path cuts them.
std::vector<zevrin::sample::Bytes> Frames() {
  const zevrin::sample::Bytes pass = zevrin::sample::MakePass({.frames = kFrames});
  std::vector<zevrin::sample::Bytes> frames;
  std::size_t open = pass.size();
  for (std::size_t i = 0; i < pass.size(); ++i) {
    if (pass[i] != zevrin::kFend) continue;
    if (open < i && i - open >= 2) frames.emplace_back(pass.begin() + open, pass.begin() + i + 1);
    open = i;
  }
  frames.resize(std::min<std::size_t>(frames.size(), kFrames));
  return frames;
}

// A port the system says is free now.
std::uint16_t FreePort() {
  const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(probe);
  return ntohs(a.sin_port);
}

// A program that reads everything and counts the bytes.
class Reader {
 public:
  explicit Reader(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    thread_ = std::thread([this] {
      char buffer[65536];
      for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;) bytes_ += n;
    });
  }
  ~Reader() {
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  long long bytes() const { return bytes_.load(); }

 private:
  int fd_ = -1;
  std::atomic<long long> bytes_{0};
  std::thread thread_;
};

void BM_KissServerToTenClients(benchmark::State& state) {
  const std::vector<zevrin::sample::Bytes> frames = Frames();
  long long total = 0;
  for (const auto& f : frames) total += static_cast<long long>(f.size());
  zevrin::KissServer server;
  if (const auto error = server.Start(std::to_string(FreePort()))) {
    state.SkipWithError(error->c_str());
    return;
  }
  std::vector<std::unique_ptr<Reader>> readers;
  for (int c = 0; c < kClients; ++c) readers.push_back(std::make_unique<Reader>(server.port()));
  while (server.Status().clients < kClients)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  long long want = 0;
  for (auto _ : state) {
    for (std::size_t k = 0; k < frames.size(); ++k) {
      server.Offer(frames[k]);
      if (k % kBurst == kBurst - 1) server.Drain(std::chrono::seconds(10));
    }
    want += total;
    for (const auto& r : readers) {
      while (r->bytes() < want) std::this_thread::yield();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long long>(frames.size()));
  state.counters["dropped"] = static_cast<double>(server.Status().dropped);
  state.counters["clients"] = kClients;
}
BENCHMARK(BM_KissServerToTenClients)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
