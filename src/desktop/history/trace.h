#pragma once
// One value of the history window: every point read from the source so far, and
// the line segments that draw it. Points are read whole once, then only what was
// recorded since.

#include <QColor>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "views/decimation.h"
#include "views/history_source.h"

QT_BEGIN_NAMESPACE
class QLineSeries;
QT_END_NAMESPACE

namespace zevrin {

/// A shown value: its points, its colour and the series that draw it (owned by
/// the chart they were added to).
struct HistoryTrace {
  HistoryValueInfo info;
  QColor colour;
  std::vector<HistoryPoint> points;
  std::vector<QLineSeries*> segments;
  DecimatedSeries decimated;
};

/// The shown values in the order they were added.
using HistoryTraces = std::vector<std::unique_ptr<HistoryTrace>>;

/// The caption with its unit in brackets, as the value list and the legend show it.
QString ValueName(const HistoryValueInfo& info);

/// Reads every recorded point of the trace's value anew.
void LoadTrace(const HistorySource& source, HistoryTrace& trace);

/// Appends the points recorded since the trace was last read.
void ReadNewPoints(const HistorySource& source, HistoryTrace& trace);

/// The time from the oldest to the newest point of all traces; none without points.
std::optional<TimeSpan> DataExtent(const HistoryTraces& traces);

}  // namespace zevrin
