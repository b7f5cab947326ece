// Parses arbitrary bytes as an alarm rules file and evaluates what it takes on a
// short generated pass, ticks included. Every byte sequence must be accepted: a
// bad line is told, never a crash, a hang or memory without bound.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "alarms/alarm_evaluator.h"
#include "decode/decode_tool.h"
#include "sample/sample_pass.h"

namespace {

class ZeroClock final : public zevrin::Clock {
 public:
  zevrin::UtcInstant Now() const override { return {1245506709, 437}; }
};

struct Events final : zevrin::AlarmListener {
  void AlarmChanged(const zevrin::AlarmEvent& event) override {
    if (event.rule == nullptr) std::abort();
    ++count;
  }
  std::size_t count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const zevrin::sample::Bytes pass = zevrin::sample::MakePass({.frames = 120});
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zevrin::AlarmRules rules = zevrin::ParseAlarmRules(text, "fuzz.ini");
  if (rules.rules.size() > zevrin::kAlarmRulesMax) std::abort();
  Events events;
  zevrin::AlarmEvaluator evaluator(std::move(rules), events);
  const ZeroClock clock;
  std::FILE* out = std::fopen("/dev/null", "w");
  {
    zevrin::DecodeTool tool({zevrin::OutputFormat::kNone, false}, out, clock);
    tool.SetFrameSink(&evaluator);
    tool.Feed(pass);
  }
  evaluator.Tick(1245506709437 + 86400000, true);
  std::fclose(out);
  return 0;
}
