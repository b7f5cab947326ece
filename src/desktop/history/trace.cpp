#include "history/trace.h"

#include <algorithm>

#include "widgets/qt_text.h"

namespace zevrin {

QString ValueName(const HistoryValueInfo& info) {
  QString name = FromUtf8(info.caption);
  if (!info.unit.empty()) name += QStringLiteral(" [%1]").arg(FromUtf8(info.unit));
  return name;
}

void LoadTrace(const HistorySource& source, HistoryTrace& trace) {
  trace.points.clear();
  source.ReadSeries(trace.info.field, {kBeginningOfTime, kEndOfTime}, trace.points);
}

// Asks for everything from the newest time held on and leaves out the points of
// that moment already held, so nothing recorded in the same millisecond is lost.
void ReadNewPoints(const HistorySource& source, HistoryTrace& trace) {
  if (trace.points.empty()) {
    LoadTrace(source, trace);
    return;
  }
  const std::int64_t newest = trace.points.back().utc_ms;
  std::size_t held = 0;
  for (auto it = trace.points.rbegin(); it != trace.points.rend() && it->utc_ms == newest; ++it) {
    ++held;
  }
  std::vector<HistoryPoint> fresh;
  source.ReadSeries(trace.info.field, {newest, kEndOfTime}, fresh);
  if (fresh.size() > held)
    trace.points.insert(trace.points.end(), fresh.begin() + held, fresh.end());
}

std::optional<TimeSpan> DataExtent(const HistoryTraces& traces) {
  std::optional<TimeSpan> extent;
  for (const auto& trace : traces) {
    if (trace->points.empty()) continue;
    const TimeSpan span{trace->points.front().utc_ms, trace->points.back().utc_ms};
    if (!extent) {
      extent = span;
    } else {
      extent->from_ms = std::min(extent->from_ms, span.from_ms);
      extent->to_ms = std::max(extent->to_ms, span.to_ms);
    }
  }
  return extent;
}

}  // namespace zevrin
