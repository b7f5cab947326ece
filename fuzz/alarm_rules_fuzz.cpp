// Parses arbitrary bytes as an alarm rules file and evaluates what it takes on a
// short generated pass, ticks included. Every byte sequence is accepted: a bad
// line is told as "FILE:LINE: what is wrong", never a crash, a hang or memory
// without bound. What was taken must read back the same from the rules' own
// texts and "notify" lines, without a single error.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "alarms/alarm_evaluator.h"
#include "decode/decode_tool.h"
#include "fuzz_support.h"
#include "sample/sample_pass.h"

namespace {

using zevrin::fuzz::Require;

constexpr std::string_view kFile = "fuzz.ini";

struct Events final : zevrin::AlarmListener {
  void AlarmChanged(const zevrin::AlarmEvent& event) override {
    Require(event.rule != nullptr, "an event names its rule");
  }
};

// Every error names the file and a line of it, then what is wrong.
void CheckErrors(const zevrin::AlarmRules& rules, std::string_view text) {
  const std::size_t lines =
      static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  const std::string prefix = std::string(kFile) + ":";
  for (const std::string& error : rules.errors) {
    Require(error.starts_with(prefix), "an error names the file", error);
    std::size_t end = prefix.size();
    std::size_t line = 0;
    while (end < error.size() && error[end] >= '0' && error[end] <= '9') {
      line = line * 10 + static_cast<std::size_t>(error[end++] - '0');
    }
    Require(line >= 1 && line <= lines, "an error names a line of the file", error);
    Require(error.substr(end, 2) == ": " && error.size() > end + 2, "an error says what", error);
  }
}

std::string LimitText(const zevrin::AlarmRules& rules, const zevrin::AlarmLimit& limit) {
  std::string text = limit.value < 0 ? "" : rules.values.at(static_cast<std::size_t>(limit.value));
  char number[40];
  std::snprintf(number, sizeof number, "%a%d", limit.number, std::signbit(limit.number) ? 1 : 0);
  return text + "+" + number;
}

std::string ConditionText(const zevrin::AlarmRules& rules, const zevrin::AlarmCondition& c) {
  char scale[40];
  std::snprintf(scale, sizeof scale, "%a", c.scale);
  return std::to_string(static_cast<int>(c.test)) + " " + LimitText(rules, c.low) + " " +
         LimitText(rules, c.high) + " " + scale;
}

// Everything a rule means, its line apart, as one text to compare.
std::string Meaning(const zevrin::AlarmRules& rules, const zevrin::AlarmRule& r) {
  std::string text = r.text + "|" + r.message + "|" + r.subject + "|" +
                     std::to_string(static_cast<int>(r.severity)) + "|" +
                     std::to_string(static_cast<int>(r.kind)) + "|" +
                     (r.value < 0 ? "" : rules.values.at(static_cast<std::size_t>(r.value))) + "|" +
                     ConditionText(rules, r.raise) + "|" +
                     (r.clear ? ConditionText(rules, *r.clear) : "-") + "|" +
                     std::to_string(r.records) + "|" + std::to_string(r.silence_ms) + "|" +
                     std::to_string(r.silence_unit_ms) + "|" + (r.while_link_up ? "up" : "any");
  return text;
}

void CheckRoundTrip(const zevrin::AlarmRules& rules) {
  std::string written;
  for (const zevrin::AlarmRule& rule : rules.rules) written += rule.text + "\n";
  for (const std::string& url : rules.webhooks) written += "notify " + url + "\n";
  const zevrin::AlarmRules back = zevrin::ParseAlarmRules(written, kFile);
  Require(back.errors.empty(), "the rules' own texts read back without an error",
          back.errors.empty() ? "" : back.errors.front());
  Require(back.rules.size() == rules.rules.size() && back.webhooks == rules.webhooks,
          "the same rules and addresses read back", written);
  for (std::size_t i = 0; i < rules.rules.size(); ++i) {
    Require(Meaning(back, back.rules[i]) == Meaning(rules, rules.rules[i]),
            "a rule reads back with the same meaning", rules.rules[i].text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const zevrin::sample::Bytes pass = zevrin::sample::MakePass({.frames = 120});
  const std::string_view text = zevrin::fuzz::AsText(data, size);
  zevrin::AlarmRules rules = zevrin::ParseAlarmRules(text, kFile);
  Require(rules.rules.size() <= zevrin::kAlarmRulesMax, "no more rules than the limit");
  Require(rules.webhooks.size() <= zevrin::kAlarmWebhooksMax, "no more addresses than the limit");
  CheckErrors(rules, text);
  CheckRoundTrip(rules);

  Events events;
  zevrin::AlarmEvaluator evaluator(std::move(rules), events);
  const zevrin::fuzz::FixedClock clock;
  std::FILE* out = std::fopen("/dev/null", "w");
  {
    zevrin::DecodeTool tool({zevrin::OutputFormat::kNone, false}, out, clock);
    tool.SetFrameSink(&evaluator);
    tool.Feed(pass);
  }
  evaluator.Tick(zevrin::fuzz::kFixedMs + 86400000, true);
  std::fclose(out);
  return 0;
}
