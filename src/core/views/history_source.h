#pragma once
// Where the history window gets its data: the recorded values of the numeric
// display fields over time. The archive provides one; tests use the one in memory.

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zevrin {

/// One recorded value: its reception time (UTC, milliseconds since 1970) and
/// the value in its unit.
struct HistoryPoint {
  std::int64_t utc_ms = 0;
  double value = 0;
  friend bool operator==(const HistoryPoint&, const HistoryPoint&) = default;
};

/// A half-open span of time [from_ms, to_ms) in UTC milliseconds.
struct TimeSpan {
  std::int64_t from_ms = 0;
  std::int64_t to_ms = 0;
  std::int64_t length() const { return to_ms - from_ms; }
  friend bool operator==(const TimeSpan&, const TimeSpan&) = default;
};

inline constexpr std::int64_t kBeginningOfTime = std::numeric_limits<std::int64_t>::min();
inline constexpr std::int64_t kEndOfTime = std::numeric_limits<std::int64_t>::max();

/// A numeric display field that has a history: its number, caption and unit.
struct HistoryValueInfo {
  int field = 0;
  std::string caption;
  std::string unit;    ///< empty for plain counts
  bool whole = false;  ///< only ever a whole number: counts, pointers, percentages
  friend bool operator==(const HistoryValueInfo&, const HistoryValueInfo&) = default;
};

/// Read access to recorded values.
class HistorySource {
 public:
  virtual ~HistorySource() = default;
  /// The values that have a history, in display-field order.
  virtual std::vector<HistoryValueInfo> Values() const = 0;
  /// Appends to `out` the points of `field` with from_ms <= time < to_ms, oldest
  /// first; points of equal time in the order they were recorded.
  virtual void ReadSeries(int field, TimeSpan span, std::vector<HistoryPoint>& out) const = 0;
  /// The most recent point of `field`, or none when it has none.
  virtual std::optional<HistoryPoint> Latest(int field) const = 0;
  /// The spans within `span` in which an alarm on `field` was raised; one still
  /// raised lasts until `now_ms`. None by default.
  virtual std::vector<TimeSpan> AlarmSpans(int field, TimeSpan span, std::int64_t now_ms) const {
    (void)field, (void)span, (void)now_ms;
    return {};
  }
};

/// A source held in memory: for tests, benchmarks and pictures.
class MemoryHistorySource final : public HistorySource {
 public:
  explicit MemoryHistorySource(std::vector<HistoryValueInfo> values) : values_(std::move(values)) {}

  /// Records a point; points must come in time order per field.
  void Add(int field, HistoryPoint point) { series_[field].push_back(point); }
  /// The whole series of `field`, for filling it in bulk.
  std::vector<HistoryPoint>& Series(int field) { return series_[field]; }
  /// Records the span of an alarm on `field`.
  void AddAlarmSpan(int field, TimeSpan span) { alarm_spans_[field].push_back(span); }

  std::vector<HistoryValueInfo> Values() const override { return values_; }
  void ReadSeries(int field, TimeSpan span, std::vector<HistoryPoint>& out) const override;
  std::optional<HistoryPoint> Latest(int field) const override;
  std::vector<TimeSpan> AlarmSpans(int field, TimeSpan span, std::int64_t now_ms) const override;

 private:
  std::vector<HistoryValueInfo> values_;
  std::map<int, std::vector<HistoryPoint>> series_;
  std::map<int, std::vector<TimeSpan>> alarm_spans_;
};

}  // namespace zevrin
