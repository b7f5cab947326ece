#pragma once
// The time span a history plot shows: the preset ranges, zooming and panning,
// and the tick marks of its time axis in UTC; the range of its value axes, and
// what it says when it has no line to draw.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/time_of_day.h"
#include "views/history_source.h"

namespace zevrin {

/// The preset ranges of the history window.
enum class HistoryRange { kThisRun, kLast24Hours, kAll };

inline constexpr std::int64_t kMillisPerDay = 24 * 3600 * kMillisPerSecond;
/// No view is narrower than this: a zoom stops there.
inline constexpr std::int64_t kShortestSpanMs = 2 * kMillisPerSecond;

/// The span of a preset range at `now_ms`. "This run" runs from `run_start_ms`,
/// "last 24 hours" from a day ago, both to now; "all" covers `data` (the times of
/// the oldest and newest point), or the last 24 hours when there is no data. Each
/// is at least kShortestSpanMs long and ends a little after its last moment, so
/// the newest point does not sit on the plot's edge.
TimeSpan PresetSpan(HistoryRange range, std::int64_t run_start_ms, std::int64_t now_ms,
                    std::optional<TimeSpan> data);

/// `span` scaled by `factor` (below 1 zooms in) around the moment at `anchor`, a
/// fraction 0 to 1 of the way across it, which stays where it is. Never shorter
/// than kShortestSpanMs.
TimeSpan ZoomSpan(TimeSpan span, double factor, double anchor);

/// `span` moved by `fraction` of its length (positive: later).
TimeSpan PanSpan(TimeSpan span, double fraction);

/// One mark on the time axis.
struct TimeTick {
  std::int64_t utc_ms = 0;
  std::string label;
};

/// Marks at round UTC times (whole seconds, minutes, hours or days) across `span`,
/// at most `max_ticks` of them and at least one when the span is not empty. Labels
/// are unique within the span: "HH:MM:SS" below a minute's step, "HH:MM" for
/// spans within a day, "MM-DD HH:MM" for longer spans, "YYYY-MM-DD" for steps of
/// days.
std::vector<TimeTick> TimeTicks(TimeSpan span, int max_ticks);

/// A value axis: its two ends and its marks, evenly spaced from end to end.
struct ValueAxisRange {
  double min = 0;
  double max = 0;
  int ticks = 0;  ///< marks, both ends included
  friend bool operator==(const ValueAxisRange&, const ValueAxisRange&) = default;
};

/// The axis for values drawn from `low` to `high`: a little room above and below
/// them, ends and marks on round numbers (1, 2 or 5 times a power of ten), about
/// five marks. A constant value sits in the middle. A value that is only ever a
/// whole number (`whole`) gets marks at whole numbers at least 1 apart. None when
/// nothing is drawn (`low` above `high`) or a bound is no finite number.
std::optional<ValueAxisRange> ValueAxisFor(double low, double high, bool whole);

/// What a history plot says in place of its lines: nothing when a shown value
/// draws a line in the span; otherwise whether there are no values shown, none
/// recorded yet, or recorded ones only outside the span.
std::string_view PlotNotice(bool values_shown, bool any_recorded, bool any_drawn);

}  // namespace zevrin
