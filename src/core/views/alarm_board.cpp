#include "views/alarm_board.h"

#include <algorithm>
#include <cstdio>

#include "outputs/archive/archive_columns.h"
#include "views/history_view.h"

namespace zevrin {

namespace {

// "YYYY-MM-DD HH:MM:SS" of UtcText, without the milliseconds.
constexpr std::size_t kSecondsChars = 19;

// By AlarmSeverity.
constexpr AlarmColours kSeverityColours[] = {
    {kAlarmWatchBack, kAlarmDarkText},
    {kAlarmWarningBack, kAlarmDarkText},
    {kAlarmCriticalBack, kAlarmLightText},
};

constexpr AlarmSeverity kSeverities[] = {AlarmSeverity::kWatch, AlarmSeverity::kWarning,
                                         AlarmSeverity::kCritical};

AlarmSeverity SeverityNamed(std::string_view name) {
  for (const AlarmSeverity s : kSeverities) {
    if (AlarmSeverityName(s) == name) return s;
  }
  return AlarmSeverity::kWarning;  // a name of a later version: neither calm nor the worst
}

std::string TimeText(std::optional<std::int64_t> ms) {
  return ms ? UtcText(*ms).substr(0, kSecondsChars) : std::string();
}

std::string ValueText(std::optional<double> value) {
  if (!value) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", *value);
  return text;
}

AlarmListRow RowOf(const AlarmRecord& r, std::optional<std::size_t> rule) {
  AlarmListRow row;
  row.rule = rule;
  row.severity = SeverityNamed(r.severity);
  row.texts = {r.message,
               r.severity,
               ValueText(r.value),
               TimeText(r.raised_ms),
               TimeText(r.cleared_ms),
               TimeText(r.acknowledged_ms)};
  row.acknowledgeable = rule.has_value() && !r.acknowledged_ms;
  return row;
}

bool SameAlarm(const AlarmRecord& a, const AlarmRecord& b) {
  return a.raised_ms == b.raised_ms && a.rule == b.rule;
}

}  // namespace

AlarmColours AlarmSeverityColours(AlarmSeverity severity) {
  return kSeverityColours[static_cast<std::size_t>(severity)];
}

std::optional<AlarmNotification> AlarmNotificationOf(const AlarmEvent& event) {
  if (event.change != AlarmChange::kRaised || event.rule == nullptr) return std::nullopt;
  const AlarmRule& rule = *event.rule;
  std::string severity(AlarmSeverityName(rule.severity));
  if (!severity.empty()) severity[0] = static_cast<char>(severity[0] - 'a' + 'A');
  AlarmNotification n;
  n.summary = severity + ": " + rule.message;
  if (event.has_value) n.body = rule.subject + " = " + ValueText(event.value) + ", ";
  n.body += TimeText(event.time_ms) + " UTC\n" + rule.text;
  n.urgency = static_cast<std::uint8_t>(rule.severity);
  return n;
}

void AlarmBoard::AlarmChanged(const AlarmEvent& event) {
  const auto it = std::find_if(raised_.begin(), raised_.end(),
                               [&](const Raised& r) { return r.rule == event.rule_index; });
  switch (event.change) {
    case AlarmChange::kRaised: {
      if (event.rule == nullptr) return;
      AlarmRecord record;
      record.rule = event.rule->text;
      record.severity = AlarmSeverityName(event.rule->severity);
      record.message = event.rule->message;
      if (event.has_value) record.value = event.value;
      record.raised_ms = event.time_ms;
      if (it != raised_.end()) raised_.erase(it);
      raised_.push_back({event.rule_index, std::move(record)});
      return;
    }
    case AlarmChange::kAcknowledged:
      if (it != raised_.end()) it->record.acknowledged_ms = event.time_ms;
      return;
    case AlarmChange::kCleared:
      if (it == raised_.end()) return;
      it->record.cleared_ms = event.time_ms;
      ended_.push_back(std::move(it->record));
      raised_.erase(it);
      if (ended_.size() > kRecentAlarmsMax) ended_.erase(ended_.begin());
      return;
  }
}

void AlarmBoard::Restart() { raised_.clear(); }

std::vector<AlarmListRow> AlarmBoard::Rows() const {
  std::vector<AlarmListRow> rows;
  for (auto r = raised_.rbegin(); r != raised_.rend(); ++r)
    rows.push_back(RowOf(r->record, r->rule));
  // The past: this run's, then the archive's that are neither of them nor raised now.
  std::vector<const AlarmRecord*> past;
  for (const AlarmRecord& r : ended_) past.push_back(&r);
  for (const AlarmRecord& a : archived_) {
    const auto same = [&a](const AlarmRecord* p) { return SameAlarm(*p, a); };
    const bool raised_now = std::any_of(raised_.begin(), raised_.end(),
                                        [&a](const Raised& r) { return SameAlarm(r.record, a); });
    if (!raised_now && std::none_of(past.begin(), past.end(), same)) past.push_back(&a);
  }
  std::stable_sort(past.begin(), past.end(), [](const AlarmRecord* a, const AlarmRecord* b) {
    return a->raised_ms > b->raised_ms;
  });
  if (past.size() > kRecentAlarmsMax) past.resize(kRecentAlarmsMax);
  for (const AlarmRecord* r : past) rows.push_back(RowOf(*r, std::nullopt));
  return rows;
}

int AlarmBoard::Unacknowledged() const {
  return static_cast<int>(std::count_if(raised_.begin(), raised_.end(),
                                        [](const Raised& r) { return !r.record.acknowledged_ms; }));
}

std::optional<AlarmSeverity> AlarmBoard::HighestUnacknowledged() const {
  std::optional<AlarmSeverity> highest;
  for (const Raised& r : raised_) {
    if (r.record.acknowledged_ms) continue;
    const AlarmSeverity s = SeverityNamed(r.record.severity);
    if (!highest || s > *highest) highest = s;
  }
  return highest;
}

std::string AlarmBoard::IndicatorText() const {
  const int n = Unacknowledged();
  if (n == 0) return {};
  return std::to_string(n) + (n == 1 ? " alarm" : " alarms");
}

std::string AlarmBoard::IndicatorDetails() const {
  std::string details;
  for (auto r = raised_.rbegin(); r != raised_.rend(); ++r) {
    if (r->record.acknowledged_ms) continue;
    if (!details.empty()) details += '\n';
    details += r->record.severity + ": " + r->record.message;
  }
  return details;
}

std::vector<TimeSpan> AlarmSpansOfField(const std::vector<AlarmRecord>& records, int field,
                                        std::int64_t now_ms) {
  std::vector<TimeSpan> spans;
  for (const AlarmRecord& r : records) {
    if (r.value_name.empty()) continue;
    const auto columns = ArchiveColumns();
    const auto column = std::find_if(columns.begin(), columns.end(), [&](const ArchiveColumn& c) {
      return c.name == r.value_name && c.numeric();
    });
    if (column == columns.end() || column->field() != field) continue;
    spans.push_back({r.raised_ms, std::max(r.raised_ms, r.cleared_ms.value_or(now_ms))});
  }
  return spans;
}

}  // namespace zevrin
