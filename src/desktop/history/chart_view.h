#pragma once
// The plot of the history window and the user's hand on it: wheel zoom, box zoom,
// panning by dragging (with Shift or the middle button) and by keys. The view
// only turns input into fractions of the plot area; the window moves the span.

#include <QChartView>
#include <QPoint>
#include <QRectF>

#include "views/history_source.h"

QT_BEGIN_NAMESPACE
class QRubberBand;
QT_END_NAMESPACE

namespace zevrin {

class HistoryWindow;

/// The chart view of a history window, zooming and panning it by mouse and keys.
class HistoryChartView final : public QChartView {
 public:
  /// Shows `chart` (and takes it); `window` must outlive the view.
  HistoryChartView(QChart* chart, HistoryWindow& window);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The plot area in viewport coordinates.
  QRectF PlotRect() const;
  // Where `at` lies across and down the plot area, from 0 to 1 (0,0 top left).
  double FractionX(QPointF at) const;
  double FractionY(QPointF at) const;

  HistoryWindow& window_;
  QRubberBand* band_ = nullptr;
  QPoint press_;
  TimeSpan pan_start_;
  bool boxing_ = false;
  bool panning_ = false;
};

}  // namespace zevrin
