#include "history/chart_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QRubberBand>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "history/history_window.h"
#include "views/history_view.h"

namespace zevrin {

namespace {

constexpr double kWheelZoom = 0.8;  // per notch towards the user: zoom in
constexpr double kAnglePerNotch = 120.0;
constexpr double kKeyPan = 0.1;
constexpr double kMiddle = 0.5;  // keys zoom around the middle of the plot
constexpr int kSmallestBox = 6;  // pixels: a shorter drag is a click

}  // namespace

HistoryChartView::HistoryChartView(QChart* chart, HistoryWindow& window)
    : QChartView(chart), window_(window) {
  setRenderHint(QPainter::Antialiasing, false);
  setFocusPolicy(Qt::StrongFocus);
  setAcceptDrops(false);  // the window takes dropped fields
  setMouseTracking(false);
}

void HistoryChartView::wheelEvent(QWheelEvent* event) {
  const double notches = event->angleDelta().y() / kAnglePerNotch;
  if (notches == 0) return;
  window_.ZoomAround(std::pow(kWheelZoom, notches), FractionX(event->position()));
  event->accept();
}

void HistoryChartView::mousePressEvent(QMouseEvent* event) {
  press_ = event->position().toPoint();
  panning_ = event->button() == Qt::MiddleButton ||
             (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier));
  boxing_ = !panning_ && event->button() == Qt::LeftButton;
  pan_start_ = window_.span();
  if (boxing_) {
    if (band_ == nullptr) band_ = new QRubberBand(QRubberBand::Rectangle, viewport());
    band_->setGeometry(QRect(press_, QSize()));
    band_->show();
  }
  event->accept();
}

void HistoryChartView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (boxing_) band_->setGeometry(QRect(press_, at).normalized());
  if (panning_) {
    const double width = PlotRect().width();
    if (width > 0) {
      const double shift = -(at.x() - press_.x()) / width;
      window_.SetSpan(PanSpan(pan_start_, shift));
    }
  }
  event->accept();
}

void HistoryChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (boxing_) {
    band_->hide();
    const QRect box = QRect(press_, event->position().toPoint()).normalized();
    if (box.width() >= kSmallestBox && box.height() >= kSmallestBox) {
      window_.ZoomToBox(FractionX(box.topLeft()), FractionX(box.bottomRight()),
                        FractionY(box.topLeft()), FractionY(box.bottomRight()));
    }
  }
  boxing_ = panning_ = false;
  event->accept();
}

void HistoryChartView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Left:
      window_.Pan(-kKeyPan);
      break;
    case Qt::Key_Right:
      window_.Pan(kKeyPan);
      break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
    case Qt::Key_Up:
      window_.ZoomAround(kWheelZoom, kMiddle);
      break;
    case Qt::Key_Minus:
    case Qt::Key_Down:
      window_.ZoomAround(1 / kWheelZoom, kMiddle);
      break;
    case Qt::Key_Home:
    case Qt::Key_Escape:
      window_.ResetView();
      break;
    default:
      QChartView::keyPressEvent(event);
      return;
  }
  event->accept();
}

QRectF HistoryChartView::PlotRect() const {
  return mapFromScene(chart()->plotArea()).boundingRect();
}

double HistoryChartView::FractionX(QPointF at) const {
  const QRectF plot = PlotRect();
  return plot.width() > 0 ? std::clamp((at.x() - plot.left()) / plot.width(), 0.0, 1.0) : kMiddle;
}

double HistoryChartView::FractionY(QPointF at) const {
  const QRectF plot = PlotRect();
  return plot.height() > 0 ? std::clamp((at.y() - plot.top()) / plot.height(), 0.0, 1.0) : kMiddle;
}

}  // namespace zevrin
