// Requests per second from the sender to a web server on 127.0.0.1 that takes every
// frame at once: the cost of the queue and of one HTTP request per frame and server.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>

#include "outputs/share/http_post.h"
#include "outputs/share/share_queue.h"
#include "outputs/share/share_sender.h"
#include "outputs/share/sids.h"
#include "support/http_recorder.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

void BM_ShareToLocalServer(benchmark::State& state) {
  ::setenv(zevrin::kLoopbackOnlyVariable, "1", 1);
  const int frames = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    zevrin::testing::TempDir dir("share-bench");
    zevrin::testing::HttpRecorder server;
    const std::string path = (dir / "queue.sqlite").string();
    std::string error;
    auto queue = zevrin::ShareQueue::Open(path, error);
    const std::string hex(2 * 120, 'A');  // a frame of 120 bytes
    for (int n = 0; n < frames; ++n) {
      const zevrin::UtcInstant t{1245506709 + n, 137};
      queue->Enqueue(zevrin::SidsTimestamp(t),
                     zevrin::SidsForm({"DL1ABC", 49.73145, 8.95564, 99999}, t, hex),
                     {server.url()});
    }
    zevrin::ShareSettings settings;
    settings.enabled = true;
    settings.station = {"DL1ABC", 49.73145, 8.95564, 99999};
    settings.servers = {{server.url(), "token"}};
    state.ResumeTiming();

    zevrin::ShareSender sender(path);
    sender.Configure(settings);
    if (!server.WaitFor(static_cast<std::size_t>(frames), 120s) || !sender.WaitUntilSettled(60s))
      state.SkipWithError("not every frame arrived");
  }
  state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_ShareToLocalServer)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
