#pragma once
// The legend of the history plot, drawn inside the chart under the plot. Unlike
// the chart's own legend it never cuts a name short: entries that do not fit in
// one row go on to the next, and the plot gives up the height they need.

#include <QColor>
#include <QString>
#include <vector>

QT_BEGIN_NAMESPACE
class QChart;
class QGraphicsTextItem;
QT_END_NAMESPACE

namespace zevrin {

/// One line of the plot as the legend names it.
struct LegendEntry {
  QColor colour;
  QString name;
  bool dashed = false;  ///< a reference line rather than recorded values
};

/// A text item of the chart that names its lines, in rows as wide as the chart.
class HistoryLegend final {
 public:
  /// Draws on `chart`, `margin` pixels in from its edges; the chart outlives it.
  HistoryLegend(QChart* chart, int margin);

  /// Shows `entries` in their order; none hides the legend.
  void Show(const std::vector<LegendEntry>& entries);
  /// Wraps the entries to the chart's width and sets the room under the plot;
  /// called when the chart's size changes.
  void Place();

 private:
  QChart* chart_;
  QGraphicsTextItem* text_;
  int margin_;
};

}  // namespace zevrin
