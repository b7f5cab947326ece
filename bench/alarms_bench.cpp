// What the alarm rules add to decoding: the receive path, the frame analysis and
// the telemetry decoder hand every frame of a generated pass to a frame sink that
// does nothing, and then to the alarm evaluator with the 20 rules of
// bench/alarms-20.ini. Frames come a tenth of a second apart, as at a station.

#include <benchmark/benchmark.h>

#include <string>

#include "alarms/alarm_evaluator.h"
#include "outputs/frame_recorder.h"
#include "receive_chain.h"
#include "sample/sample_pass.h"

namespace zevrin {
namespace {

constexpr std::int64_t kFrameSpacingMs = 100;

class SteppingClock final : public Clock {
 public:
  UtcInstant Now() const override {
    ms_ += kFrameSpacingMs;
    return FromUtcMillis(ms_);
  }

 private:
  mutable std::int64_t ms_ = 1'245'506'709'000;
};

class CountingSink final : public FrameSink {
 public:
  void FrameDecoded(const DecodedFrame&) override { ++frames; }
  std::size_t frames = 0;
};

class CountingListener final : public AlarmListener {
 public:
  void AlarmChanged(const AlarmEvent&) override { ++events; }
  std::size_t events = 0;
};

const sample::Bytes& Pass() {
  static const sample::Bytes pass = sample::MakePass(sample::PassOptions{.frames = 10000});
  return pass;
}

void RunDecoding(benchmark::State& state, bool with_alarms) {
  SteppingClock clock;
  bench::ReceiveChain chain(clock);
  chain.analysis.SetSatelliteDecoder(&chain.telemetry);
  FrameRecorder recorder(chain.analysis, chain.telemetry, chain.fields, clock);
  chain.path.SetFrameHandler(&recorder);
  CountingSink writer;
  recorder.AddSink(&writer);
  CountingListener listener;
  std::optional<AlarmRules> rules = ReadAlarmRules(ZEVRIN_ALARM_RULES);
  if (!rules || rules->rules.size() != 20 || !rules->errors.empty()) {
    state.SkipWithError("cannot read the 20 rules of " ZEVRIN_ALARM_RULES);
    return;
  }
  AlarmEvaluator alarms(std::move(*rules), listener);
  if (with_alarms) recorder.AddSink(&alarms);
  for (auto _ : state) chain.Feed(Pass());
  state.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(writer.frames), benchmark::Counter::kIsRate);
  // Alarm events in one pass.
  state.counters["events"] =
      benchmark::Counter(static_cast<double>(listener.events), benchmark::Counter::kAvgIterations);
}

void BM_Decoding_NoRules(benchmark::State& s) { RunDecoding(s, false); }
void BM_Decoding_20Rules(benchmark::State& s) { RunDecoding(s, true); }

BENCHMARK(BM_Decoding_NoRules)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decoding_20Rules)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zevrin

BENCHMARK_MAIN();
