#pragma once
// The chart of the history window: a line per shown value over a time span,
// thinned to the plot's pixel columns, a value axis per unit, a time axis with
// ticks in UTC, the battery thresholds drawn beside the battery voltage, the
// legend, the spans of alarms on the shown values shaded, and a notice in place of
// the lines when there are none to draw.

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "base/colours.h"
#include "history/legend.h"
#include "history/trace.h"
#include "views/history_source.h"

QT_BEGIN_NAMESPACE
class QCategoryAxis;
class QChart;
class QGraphicsRectItem;
class QGraphicsTextItem;
class QLineSeries;
QT_END_NAMESPACE

namespace zevrin {

/// The battery voltage and the two battery thresholds drawn beside it.
inline constexpr int kBatteryVoltsField = 18;
inline constexpr int kPowersafeThresholdField = 43;
inline constexpr int kEmergencyThresholdField = 44;

/// The shown values and everything the chart draws of them; the window decides
/// which span is drawn and when.
class HistoryPlot final {
 public:
  /// Makes the chart with its time axis; the chart goes to the view that shows it.
  HistoryPlot();
  ~HistoryPlot();
  HistoryPlot(const HistoryPlot&) = delete;
  HistoryPlot& operator=(const HistoryPlot&) = delete;

  QChart* chart() const { return chart_; }
  /// The shown values in the order they were added.
  const HistoryTraces& traces() const { return traces_; }
  HistoryTraces& traces() { return traces_; }
  /// A new trace for `info` in the next line colour, without points yet.
  HistoryTrace& AddTrace(const HistoryValueInfo& info);
  /// Takes the trace of `field` and its lines off the chart; false when not shown.
  bool RemoveTrace(int field);
  /// The trace of `field`, or null when it is not shown.
  const HistoryTrace* Find(int field) const;

  /// Draws every trace over `span`, the thresholds `source` holds last and the
  /// alarms on the shown values (one still raised lasts until `now_ms`).
  void Redraw(const HistorySource& source, TimeSpan span, std::int64_t now_ms);
  /// The width of the plot area, in pixel columns, at the last redraw.
  int drawn_columns() const { return drawn_columns_; }
  /// Holds every value axis shown at a band of its current range, given as
  /// fractions of the plot height from the top; used by a box zoom.
  void FixValueAxes(double top, double bottom);
  /// Lets every value axis fit the shown data again.
  void FreeValueAxes();

  /// The level of a reference line drawn now, or none.
  std::optional<double> ThresholdLevel(int field) const;
  /// The points drawn for `field`, every segment one after the other.
  std::vector<HistoryPoint> DrawnPoints(int field) const;
  /// The alarm spans shaded now.
  const std::vector<TimeSpan>& alarm_spans() const { return alarm_spans_; }

 private:
  struct UnitAxis;

  UnitAxis& AxisFor(const std::string& unit);
  void DropUnusedAxes();
  void DrawTrace(HistoryTrace& trace, TimeSpan span, int columns);
  void DrawThresholds(const HistorySource& source, TimeSpan span);
  void DrawThresholdLine(QLineSeries*& line, std::optional<double> value, const char* caption,
                         Rgb colour, TimeSpan span);
  void FitValueAxes(TimeSpan span);
  void DrawTimeAxis(TimeSpan span);
  void ShowLegendAndNotice(TimeSpan span);
  void PlaceNotice();
  void DrawAlarmSpans(const HistorySource& source, TimeSpan span, std::int64_t now_ms);
  void PlaceAlarmShades();

  QChart* chart_ = nullptr;
  QCategoryAxis* time_axis_ = nullptr;
  HistoryLegend legend_;
  QGraphicsTextItem* notice_ = nullptr;
  QMetaObject::Connection resized_;
  HistoryTraces traces_;
  std::vector<std::unique_ptr<UnitAxis>> axes_;
  QLineSeries* powersafe_line_ = nullptr;
  QLineSeries* emergency_line_ = nullptr;
  std::optional<double> powersafe_level_;
  std::optional<double> emergency_level_;
  std::vector<TimeSpan> alarm_spans_;
  std::vector<QGraphicsRectItem*> shades_;
  TimeSpan shaded_span_;
  int next_colour_ = 0;
  int drawn_columns_ = 0;
};

}  // namespace zevrin
