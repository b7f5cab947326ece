#include "views/history_view.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "base/time_of_day.h"

namespace zevrin {

namespace {

constexpr std::int64_t kMinute = 60 * kMillisPerSecond;
constexpr std::int64_t kHour = 60 * kMinute;
// Room after the newest moment of a preset range, as a share of its length.
constexpr double kTrailingRoom = 0.02;
// Room above and below the drawn values, as a share of their range; a constant
// value gets a share of itself, at least kConstantRoom, or one for whole numbers.
constexpr double kValueRoom = 0.05;
constexpr double kConstantRoom = 0.5;
constexpr int kValueTicks = 5;

// Floor division for times before 1970 too.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

CivilTime Civil(std::int64_t utc_ms) { return ToCivil(FloorDiv(utc_ms, kMillisPerSecond)); }

TimeSpan AtLeastShortest(TimeSpan span) {
  if (span.length() >= kShortestSpanMs) return span;
  const std::int64_t middle = span.from_ms + span.length() / 2;
  return {middle - kShortestSpanMs / 2, middle - kShortestSpanMs / 2 + kShortestSpanMs};
}

// A round number near `x` > 0: 1, 2, 5 or 10 times a power of ten; the next one
// up with `up`, otherwise the nearest.
double RoundNumber(double x, bool up) {
  const double power = std::pow(10.0, std::floor(std::log10(x)));
  const double f = x / power;
  if (up) return power * (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10);
  return power * (f < 1.5 ? 1 : f < 3 ? 2 : f < 7 ? 5 : 10);
}

}  // namespace

TimeSpan PresetSpan(HistoryRange range, std::int64_t run_start_ms, std::int64_t now_ms,
                    std::optional<TimeSpan> data) {
  TimeSpan span{now_ms - kMillisPerDay, now_ms};
  if (range == HistoryRange::kThisRun) span.from_ms = std::min(run_start_ms, now_ms);
  if (range == HistoryRange::kAll && data) span = *data;
  span.to_ms += static_cast<std::int64_t>(static_cast<double>(span.length()) * kTrailingRoom) + 1;
  return AtLeastShortest(span);
}

TimeSpan ZoomSpan(TimeSpan span, double factor, double anchor) {
  anchor = std::clamp(anchor, 0.0, 1.0);
  const double length = static_cast<double>(span.length());
  const double at = static_cast<double>(span.from_ms) + anchor * length;
  const double scaled = std::max(length * factor, static_cast<double>(kShortestSpanMs));
  const auto from = static_cast<std::int64_t>(std::llround(at - anchor * scaled));
  return {from, from + static_cast<std::int64_t>(std::llround(scaled))};
}

TimeSpan PanSpan(TimeSpan span, double fraction) {
  const auto shift =
      static_cast<std::int64_t>(std::llround(static_cast<double>(span.length()) * fraction));
  return {span.from_ms + shift, span.to_ms + shift};
}

std::vector<TimeTick> TimeTicks(TimeSpan span, int max_ticks) {
  std::vector<TimeTick> ticks;
  if (span.length() <= 0 || max_ticks < 1) return ticks;
  static constexpr std::array<std::int64_t, 21> kSteps = {kMillisPerSecond,
                                                          2 * kMillisPerSecond,
                                                          5 * kMillisPerSecond,
                                                          10 * kMillisPerSecond,
                                                          15 * kMillisPerSecond,
                                                          30 * kMillisPerSecond,
                                                          kMinute,
                                                          2 * kMinute,
                                                          5 * kMinute,
                                                          10 * kMinute,
                                                          15 * kMinute,
                                                          30 * kMinute,
                                                          kHour,
                                                          2 * kHour,
                                                          3 * kHour,
                                                          6 * kHour,
                                                          12 * kHour,
                                                          kMillisPerDay,
                                                          2 * kMillisPerDay,
                                                          7 * kMillisPerDay,
                                                          30 * kMillisPerDay};
  std::int64_t step = kSteps.back();
  for (const std::int64_t s : kSteps) {
    if (span.length() / s < max_ticks) {
      step = s;
      break;
    }
  }
  // Beyond the largest step, whole multiples of it.
  while (span.length() / step >= max_ticks) step *= 2;

  const bool days = step >= kMillisPerDay;
  const bool seconds = step < kMinute;
  const bool dated = span.length() > kMillisPerDay;
  for (std::int64_t t = FloorDiv(span.from_ms + step - 1, step) * step; t < span.to_ms; t += step) {
    const CivilTime c = Civil(t);
    char text[40];
    if (days) {
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", c.year, c.month, c.day);
    } else if (dated) {
      std::snprintf(text, sizeof text, "%02d-%02d %02d:%02d", c.month, c.day, c.hour, c.minute);
    } else if (seconds) {
      std::snprintf(text, sizeof text, "%02d:%02d:%02d", c.hour, c.minute, c.second);
    } else {
      std::snprintf(text, sizeof text, "%02d:%02d", c.hour, c.minute);
    }
    ticks.push_back({t, text});
  }
  if (ticks.empty()) ticks.push_back({span.from_ms, UtcText(span.from_ms).substr(11, 8)});
  return ticks;
}

std::optional<ValueAxisRange> ValueAxisFor(double low, double high, bool whole) {
  if (!std::isfinite(low) || !std::isfinite(high) || low > high) return std::nullopt;
  double room = (high - low) * kValueRoom;
  if (room == 0) room = whole ? 1 : std::max(std::abs(high) * kValueRoom, kConstantRoom);
  low -= room;
  high += room;
  double step = RoundNumber(RoundNumber(high - low, true) / (kValueTicks - 1), false);
  if (whole) step = std::max(step, 1.0);
  const double first = std::floor(low / step);
  const double last = std::ceil(high / step);
  return ValueAxisRange{first * step, last * step, static_cast<int>(last - first) + 1};
}

std::string_view PlotNotice(bool values_shown, bool any_recorded, bool any_drawn) {
  if (!values_shown) return "Check a value on the left to plot it";
  if (any_drawn) return {};
  return any_recorded ? "No data in this span" : "No data yet";
}

}  // namespace zevrin
