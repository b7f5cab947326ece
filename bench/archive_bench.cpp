// zevrinkiss-decode --archive against --format json of the same recording: a
// generated pass of 100,000 frames (about 12 MB), named like a raw log. Every
// iteration starts the program, so the times include its start; each --archive
// run fills a new archive.
//   bench_archive [--benchmark_repetitions=N]
// After the benchmarks it prints the best time of each, their ratio, and the size
// of the archive against the raw log's.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
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

struct Recording {
  std::string dir;
  std::string file;
  std::string archive;
  std::uint64_t size = 0;

  Recording() {
    char name[] = "/tmp/bench-archive-XXXXXX";
    if (::mkdtemp(name) == nullptr) std::exit(1);
    dir = name;
    file = dir + "/Lab_06122026_1200.kss";
    archive = dir + "/Lab_archive.sqlite";
    const sample::Bytes stream = sample::MakePass({.frames = 100000});
    size = stream.size();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()),
               static_cast<std::streamsize>(stream.size()));
  }
  ~Recording() {
    RemoveArchive();
    ::unlink(file.c_str());
    ::rmdir(dir.c_str());
  }
  void RemoveArchive() const {
    for (const char* end : {"", "-wal", "-shm"}) ::unlink((archive + end).c_str());
  }
};

const Recording& TheRecording() {
  static const Recording recording;
  return recording;
}

// Runs the decode tool with its output thrown away; returns its wall time.
double Run(std::vector<std::string> args) {
  args.insert(args.begin(), ZEVRIN_DECODE_BINARY);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", ZEVRIN_DECODE_BINARY);
    std::exit(1);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double best_json = 1e9;
double best_archive = 1e9;
std::uint64_t archive_size = 0;

void BM_FormatJson(benchmark::State& state) {
  const Recording& r = TheRecording();
  for (auto _ : state) {
    const double seconds = Run({"--format", "json", r.file});
    best_json = std::min(best_json, seconds);
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * r.size));
}
BENCHMARK(BM_FormatJson)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

void BM_Archive(benchmark::State& state) {
  const Recording& r = TheRecording();
  for (auto _ : state) {
    state.PauseTiming();
    r.RemoveArchive();
    state.ResumeTiming();
    const double seconds = Run({"--archive", r.archive, r.file});
    best_archive = std::min(best_archive, seconds);
    state.SetIterationTime(seconds);
  }
  struct stat st {};
  if (::stat(r.archive.c_str(), &st) == 0) archive_size = static_cast<std::uint64_t>(st.st_size);
  state.counters["archive_to_raw_log"] =
      static_cast<double>(archive_size) / static_cast<double>(r.size);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * r.size));
}
BENCHMARK(BM_Archive)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (best_json < 1e9 && best_archive < 1e9) {
    const Recording& r = TheRecording();
    std::printf("best --format json %.3f s, best --archive %.3f s: %.2f times as long\n", best_json,
                best_archive, best_archive / best_json);
    std::printf("archive %.1f MB, raw log %.1f MB: %.2f times the size\n", archive_size / 1e6,
                r.size / 1e6, static_cast<double>(archive_size) / static_cast<double>(r.size));
  }
  return 0;
}
