#include "decode/alarm_run.h"

#include <charconv>

#include "alarms/alarm_webhook.h"
#include "outputs/export/json.h"

namespace zevrin {

namespace {
// How long the end of a run waits for the webhooks' posts still waiting.
constexpr auto kWebhookFinishWait = std::chrono::seconds(5);
}  // namespace

const char* const kAlarmsUsage =
    "  --alarms FILE     evaluate the alarm rules of FILE (as the desktop program's\n"
    "                    zevrinkiss-alarms.ini), or the default rules with\n"
    "                    --alarms default, on every frame: each alarm raised or\n"
    "                    cleared is told on standard error and, with --format json,\n"
    "                    as a JSON line of its own; recordings at their own times.\n"
    "                    A live link posts each to the rules file's notify addresses\n"
    "  --notify          a replay posts to the notify addresses as well\n";

bool TakeAlarmsOption(int argc, char** argv, int& i, std::string& rules, std::string& error) {
  const std::string arg = argv[i];
  if (arg == "--alarms") {
    if (i + 1 >= argc) {
      error = "--alarms needs a rules file or 'default'";
      return true;
    }
    rules = argv[++i];
  } else if (arg.starts_with("--alarms=")) {
    rules = arg.substr(std::string_view("--alarms=").size());
  } else {
    return false;
  }
  if (rules.empty()) error = "--alarms needs a rules file or 'default'";
  return true;
}

std::unique_ptr<AlarmRun> AlarmRun::Create(const std::string& rules, std::FILE* messages,
                                           std::string& error) {
  std::optional<AlarmRules> parsed =
      rules == kDefaultAlarmsName ? DefaultAlarmRules() : ReadAlarmRules(rules);
  if (!parsed) {
    error = "cannot read the alarm rules " + rules;
    return nullptr;
  }
  // A bad rule is left out; the others still apply.
  for (const std::string& e : parsed->errors) {
    std::fprintf(messages, "zevrinkiss-decode: --alarms: %s\n", e.c_str());
  }
  return std::unique_ptr<AlarmRun>(new AlarmRun(std::move(*parsed), messages));
}

AlarmRun::AlarmRun(AlarmRules rules, std::FILE* messages)
    : messages_(messages), evaluator_(std::move(rules), *this) {}

void AlarmRun::AlarmChanged(const AlarmEvent& event) {
  const AlarmRule& rule = *event.rule;
  const std::string time = UtcText(event.time_ms);
  // One write for the line, which keeps it whole among other programs' lines.
  line_.clear();
  line_.Append("zevrinkiss-decode: alarm ");
  line_.Append(AlarmChangeName(event.change));
  line_.Append(" at ");
  line_.Append(time);
  line_.Append(" UTC: ");
  line_.Append(AlarmSeverityName(rule.severity));
  line_.Append(": ");
  line_.Append(rule.message);
  if (event.has_value) {
    line_.Append(" (");
    line_.Append(rule.subject);
    line_.Append(' ');
    // Six significant digits, as printf's %.6g writes them.
    constexpr std::size_t kRoom = 32;
    char* at = line_.Room(kRoom);
    line_.Commit(std::to_chars(at, at + kRoom, event.value, std::chars_format::general, 6).ptr);
    line_.Append(')');
  }
  line_.Append('\n');
  std::fwrite(line_.data(), 1, line_.size(), messages_);
  if (json_ != nullptr) AppendJson(event, time);
  if (next_ != nullptr) next_->AlarmChanged(event);
  if (webhook_) webhook_->AlarmChanged(event);
}

void AlarmRun::StartWebhooks(const std::string& station) {
  const std::vector<std::string>& urls = evaluator_.rules().webhooks;
  if (urls.empty() || webhook_) return;
  std::FILE* messages = messages_;
  webhook_ = std::make_unique<AlarmWebhook>(urls, station, [messages](const std::string& problem) {
    const std::string line = "zevrinkiss-decode: " + problem + "\n";
    std::fwrite(line.data(), 1, line.size(), messages);
  });
}

void AlarmRun::Finish() {
  if (webhook_) webhook_->WaitUntilIdle(kWebhookFinishWait);
  webhook_.reset();
}

void AlarmRun::AppendJson(const AlarmEvent& event, std::string_view time) {
  const AlarmRule& rule = *event.rule;
  TextBuilder& o = json_->text();
  o.Append("{\"alarm\":");
  json::AppendLatin1String(o, AlarmChangeName(event.change));
  o.Append(",\"severity\":");
  json::AppendLatin1String(o, AlarmSeverityName(rule.severity));
  o.Append(",\"message\":");
  json::AppendLatin1String(o, rule.message);
  o.Append(",\"rule\":");
  json::AppendLatin1String(o, rule.text);
  o.Append(",\"subject\":");
  json::AppendLatin1String(o, rule.subject);
  o.Append(",\"value\":");
  json::AppendNumberOrNull(o, event.has_value, event.value);
  o.Append(",\"time\":");
  json::AppendLatin1String(o, time);
  o.Append(",\"time_ms\":");
  o.AppendNumber(event.time_ms);
  o.Append(",\"frame_received_ms\":");
  if (event.frame_bytes.empty()) {
    o.Append("null");
  } else {
    o.AppendNumber(event.frame_received_ms);
  }
  o.Append("}\n");
}

}  // namespace zevrin
