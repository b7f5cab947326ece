#pragma once
// What the windows show of the alarms: those raised now, told by the evaluator as
// they change, and the recent ones the archive keeps; the status-bar indicator;
// the texts of a desktop notification; the time spans the history window shades.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "alarms/alarm_evaluator.h"
#include "alarms/alarm_records.h"
#include "base/colours.h"
#include "views/history_source.h"

namespace zevrin {

/// The columns of the alarm list, in order.
inline constexpr std::array<std::string_view, 6> kAlarmColumns = {
    "Alarm", "Severity", "Value", "Raised (UTC)", "Cleared (UTC)", "Acknowledged (UTC)"};
/// The most alarms of the past the list shows.
inline constexpr std::size_t kRecentAlarmsMax = 200;

/// One line of the alarm list.
struct AlarmListRow {
  /// Raised now: the rule's place in the evaluator, by which it is acknowledged.
  std::optional<std::size_t> rule;
  AlarmSeverity severity = AlarmSeverity::kWarning;
  std::array<std::string, kAlarmColumns.size()> texts;
  bool acknowledgeable = false;  ///< raised now and not acknowledged yet
};

/// The colours of the indicator for the highest severity raised.
struct AlarmColours {
  Rgb background;
  Rgb text;
};
AlarmColours AlarmSeverityColours(AlarmSeverity severity);

/// A desktop notification of a raised alarm. `urgency` is the notification
/// service's hint: 0 low (watch), 1 normal (warning), 2 critical.
struct AlarmNotification {
  std::string summary;
  std::string body;
  std::uint8_t urgency = 1;
};
/// The notification of a raise; none for a clear or an acknowledgement.
std::optional<AlarmNotification> AlarmNotificationOf(const AlarmEvent& event);

/// The alarms raised now and the recent ones, as the Alarms window and the
/// indicator show them. Listens to the evaluator; the archive's alarms are given
/// now and then, and an alarm told here as well as read there is shown once.
class AlarmBoard final : public AlarmListener {
 public:
  void AlarmChanged(const AlarmEvent& event) override;
  /// The alarms of the past as the archive keeps them, the latest first.
  void SetArchived(std::vector<AlarmRecord> records) { archived_ = std::move(records); }
  /// Forgets the raised alarms: a new evaluator starts with none.
  void Restart();

  /// The raised alarms (latest first), then the past ones (latest first).
  std::vector<AlarmListRow> Rows() const;
  /// Raised and not acknowledged.
  int Unacknowledged() const;
  /// The highest severity of those; none when there are none.
  std::optional<AlarmSeverity> HighestUnacknowledged() const;
  /// "1 alarm", "3 alarms"; empty when none is waiting for a person.
  std::string IndicatorText() const;
  /// One line per alarm waiting for a person: "critical: Battery below emergency".
  std::string IndicatorDetails() const;

 private:
  struct Raised {
    std::size_t rule;
    AlarmRecord record;
  };
  std::vector<Raised> raised_;      // in the order they were raised
  std::vector<AlarmRecord> ended_;  // cleared in this run, the latest last
  std::vector<AlarmRecord> archived_;
};

/// The time spans of the alarms in `records` on the value of display field
/// `field`: from the raise to the clear, or to `now_ms` while not cleared.
std::vector<TimeSpan> AlarmSpansOfField(const std::vector<AlarmRecord>& records, int field,
                                        std::int64_t now_ms);

}  // namespace zevrin
