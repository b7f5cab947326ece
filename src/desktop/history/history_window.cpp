#include "history/history_window.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "base/colours.h"
#include "history/chart_view.h"
#include "views/history_csv.h"
#include "widgets/qt_text.h"

namespace zevrin {

namespace {

constexpr int kRefreshMs = 1000;
// Two points further apart than this many pixel columns, and than a few minutes
// (the pause between records within a pass), are not joined: passes stay apart.
constexpr int kGapColumns = 8;
constexpr std::int64_t kGapMs = 5 * 60 * kMillisPerSecond;
constexpr int kPixelsPerTick = 90;
constexpr double kValuePadding = 0.05;
constexpr int kListWidth = 230;

QString ValueName(const HistoryValueInfo& info) {
  QString name = FromUtf8(info.caption);
  if (!info.unit.empty()) name += QStringLiteral(" [%1]").arg(FromUtf8(info.unit));
  return name;
}

QList<QPointF> ToQPoints(std::span<const HistoryPoint> points) {
  QList<QPointF> list;
  list.reserve(static_cast<qsizetype>(points.size()));
  for (const HistoryPoint& p : points) list.append(QPointF(static_cast<double>(p.utc_ms), p.value));
  return list;
}

}  // namespace

// One shown value: every point read so far and the line segments that draw it.
struct HistoryWindow::Trace {
  HistoryValueInfo info;
  QColor colour;
  std::vector<HistoryPoint> points;
  std::vector<QLineSeries*> segments;
  DecimatedSeries decimated;
};

// A value axis for every unit shown: units alternate between left and right.
struct HistoryWindow::UnitAxis {
  std::string unit;
  QValueAxis* axis = nullptr;
  // Set by a box zoom; otherwise the axis fits the shown data.
  std::optional<std::pair<double, double>> fixed;
};

HistoryWindow::HistoryWindow(const HistorySource& source, const Clock& clock,
                             std::int64_t run_start_ms, QWidget* parent)
    : QWidget(parent, Qt::Window),
      source_(&source),
      clock_(clock),
      run_start_ms_(run_start_ms),
      values_(source.Values()) {
  setObjectName(QStringLiteral("HistoryWindow"));
  setAcceptDrops(true);

  chart_ = new QChart;
  chart_->setObjectName(QStringLiteral("HistoryChart"));
  chart_->legend()->setAlignment(Qt::AlignBottom);
  chart_->legend()->setShowToolTips(true);
  chart_->setMargins(QMargins(4, 4, 4, 4));
  time_axis_ = new QCategoryAxis;
  time_axis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  chart_->addAxis(time_axis_, Qt::AlignBottom);
  view_ = new HistoryChartView(chart_, *this);
  view_->setObjectName(QStringLiteral("HistoryChartView"));
  view_->setMinimumSize(480, 300);

  // Top row: range, reset and saving.
  range_box_ = new QComboBox(this);
  range_box_->setObjectName(QStringLiteral("HistoryRange"));
  range_box_->addItems(
      {QStringLiteral("This run"), QStringLiteral("Last 24 hours"), QStringLiteral("All")});
  range_box_->setCurrentIndex(static_cast<int>(range_));
  connect(range_box_, &QComboBox::activated, this,
          [this](int index) { SetRange(static_cast<HistoryRange>(index)); });
  auto* reset = new QPushButton(QStringLiteral("Reset view"), this);
  reset->setObjectName(QStringLiteral("HistoryReset"));
  connect(reset, &QPushButton::clicked, this, &HistoryWindow::ResetView);
  auto* save_png = new QPushButton(QStringLiteral("Save picture..."), this);
  save_png->setObjectName(QStringLiteral("HistorySavePicture"));
  connect(save_png, &QPushButton::clicked, this, [this] { SaveWithDialog(true); });
  auto* save_csv = new QPushButton(QStringLiteral("Save data..."), this);
  save_csv->setObjectName(QStringLiteral("HistorySaveData"));
  connect(save_csv, &QPushButton::clicked, this, [this] { SaveWithDialog(false); });
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Range:"), this));
  top->addWidget(range_box_);
  top->addWidget(reset);
  top->addStretch(1);
  top->addWidget(save_png);
  top->addWidget(save_csv);

  // Left: every value with a history, checked while shown.
  value_list_ = new QListWidget(this);
  value_list_->setObjectName(QStringLiteral("HistoryValues"));
  value_list_->setFixedWidth(kListWidth);
  value_list_->setToolTip(
      QStringLiteral("Check a value to add it to the plot, or drop a field "
                     "of the main window on this window"));
  for (const HistoryValueInfo& info : values_) {
    auto* item = new QListWidgetItem(QStringLiteral("%1  %2").arg(info.field).arg(ValueName(info)),
                                     value_list_);
    item->setData(Qt::UserRole, info.field);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  connect(value_list_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    const int field = item->data(Qt::UserRole).toInt();
    if (item->checkState() == Qt::Checked) {
      AddValue(field);
    } else {
      RemoveValue(field);
    }
  });
  auto* values_label = new QLabel(QStringLiteral("Values"), this);

  auto* left = new QVBoxLayout;
  left->addWidget(values_label);
  left->addWidget(value_list_, 1);
  auto* middle = new QHBoxLayout;
  middle->addLayout(left);
  middle->addWidget(view_, 1);

  auto* hint = new QLabel(
      QStringLiteral("Wheel or +/-: zoom · drag: zoom to a box · Shift+drag, middle button or "
                     "arrow keys: pan · Home: reset · times in UTC"),
      this);
  hint->setObjectName(QStringLiteral("HistoryHint"));
  hint->setTextFormat(Qt::PlainText);
  hint->setWordWrap(true);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(middle, 1);
  layout->addWidget(hint);
  resize(1000, 620);

  span_ = PresetSpan(range_, run_start_ms_, NowMs(), std::nullopt);
  // A wider or narrower plot takes more or fewer points: thin again once the
  // layout has settled.
  connect(chart_, &QChart::plotAreaChanged, this, [this](const QRectF& area) {
    if (static_cast<int>(area.width()) != drawn_columns_) {
      QTimer::singleShot(0, this, [this] {
        if (static_cast<int>(chart_->plotArea().width()) != drawn_columns_) Redraw();
      });
    }
  });
  refresh_timer_.setInterval(kRefreshMs);
  connect(&refresh_timer_, &QTimer::timeout, this, &HistoryWindow::Refresh);
  refresh_timer_.start();
  UpdateTitle();
}

HistoryWindow::~HistoryWindow() = default;

QChartView* HistoryWindow::chart_view() const { return view_; }

std::int64_t HistoryWindow::NowMs() const { return ToUtcMillis(clock_.Now()); }

void HistoryWindow::AddValue(int field) {
  const auto info = std::find_if(values_.begin(), values_.end(),
                                 [field](const HistoryValueInfo& v) { return v.field == field; });
  if (info == values_.end()) return;
  const std::vector<int> shown = ShownFields();
  if (std::find(shown.begin(), shown.end(), field) != shown.end()) return;

  auto trace = std::make_unique<Trace>();
  trace->info = *info;
  constexpr int kColours = static_cast<int>(std::size(kHistoryLineColours));
  trace->colour = ToQColor(kHistoryLineColours[next_colour_++ % kColours]);
  LoadTrace(*trace);
  traces_.push_back(std::move(trace));
  if (following_) span_ = PresetSpan(range_, run_start_ms_, NowMs(), DataExtent());
  UpdateListChecks();
  UpdateTitle();
  Redraw();
}

void HistoryWindow::RemoveValue(int field) {
  const auto it = std::find_if(traces_.begin(), traces_.end(),
                               [field](const auto& t) { return t->info.field == field; });
  if (it == traces_.end()) return;
  for (QLineSeries* series : (*it)->segments) {
    chart_->removeSeries(series);
    delete series;
  }
  traces_.erase(it);
  UpdateListChecks();
  UpdateTitle();
  Redraw();
}

std::vector<int> HistoryWindow::ShownFields() const {
  std::vector<int> fields;
  for (const auto& trace : traces_) fields.push_back(trace->info.field);
  return fields;
}

void HistoryWindow::LoadTrace(Trace& trace) {
  trace.points.clear();
  source_->ReadSeries(trace.info.field, {kBeginningOfTime, kEndOfTime}, trace.points);
}

// Asks for everything from the newest time held on and leaves out the points of
// that moment already held, so nothing recorded in the same millisecond is lost.
void HistoryWindow::ReadNewPoints(Trace& trace) {
  if (trace.points.empty()) {
    LoadTrace(trace);
    return;
  }
  const std::int64_t newest = trace.points.back().utc_ms;
  std::size_t held = 0;
  for (auto it = trace.points.rbegin(); it != trace.points.rend() && it->utc_ms == newest; ++it) {
    ++held;
  }
  std::vector<HistoryPoint> fresh;
  source_->ReadSeries(trace.info.field, {newest, kEndOfTime}, fresh);
  if (fresh.size() > held)
    trace.points.insert(trace.points.end(), fresh.begin() + held, fresh.end());
}

void HistoryWindow::Refresh() {
  bool changed = false;
  for (auto& trace : traces_) {
    const std::size_t before = trace->points.size();
    ReadNewPoints(*trace);
    changed = changed || trace->points.size() != before;
  }
  if (following_) {
    const TimeSpan span = PresetSpan(range_, run_start_ms_, NowMs(), DataExtent());
    changed = changed || span != span_;
    span_ = span;
  }
  if (changed) Redraw();
}

void HistoryWindow::SetSource(const HistorySource& source) {
  source_ = &source;
  for (auto& trace : traces_) LoadTrace(*trace);
  if (following_) span_ = PresetSpan(range_, run_start_ms_, NowMs(), DataExtent());
  Redraw();
}

std::optional<TimeSpan> HistoryWindow::DataExtent() const {
  std::optional<TimeSpan> extent;
  for (const auto& trace : traces_) {
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

void HistoryWindow::SetRange(HistoryRange range) {
  range_ = range;
  range_box_->setCurrentIndex(static_cast<int>(range));
  ResetView();
}

void HistoryWindow::ResetView() {
  following_ = true;
  for (auto& axis : axes_) axis->fixed.reset();
  span_ = PresetSpan(range_, run_start_ms_, NowMs(), DataExtent());
  Redraw();
}

void HistoryWindow::SetSpan(TimeSpan span) {
  if (span.length() < kShortestSpanMs) span = ZoomSpan(span, 1, 0.5);
  following_ = false;
  span_ = span;
  Redraw();
}

void HistoryWindow::ZoomAround(double factor, double anchor) {
  SetSpan(ZoomSpan(span_, factor, anchor));
}

void HistoryWindow::Pan(double fraction) { SetSpan(PanSpan(span_, fraction)); }

void HistoryWindow::ZoomToBox(double left, double right, double top, double bottom) {
  for (auto& axis : axes_) {
    const double min = axis->axis->min();
    const double max = axis->axis->max();
    axis->fixed = std::make_pair(max - bottom * (max - min), max - top * (max - min));
  }
  const double length = static_cast<double>(span_.length());
  const auto from = span_.from_ms + static_cast<std::int64_t>(std::llround(left * length));
  const auto to = span_.from_ms + static_cast<std::int64_t>(std::llround(right * length));
  SetSpan({from, to});
}

HistoryWindow::UnitAxis& HistoryWindow::AxisFor(const std::string& unit) {
  for (auto& axis : axes_) {
    if (axis->unit == unit) return *axis;
  }
  auto axis = std::make_unique<UnitAxis>();
  axis->unit = unit;
  axis->axis = new QValueAxis;
  axis->axis->setTitleText(unit.empty() ? QStringLiteral("count") : FromUtf8(unit));
  axis->axis->setLabelFormat(QStringLiteral("%.4g"));
  chart_->addAxis(axis->axis, axes_.size() % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
  axes_.push_back(std::move(axis));
  return *axes_.back();
}

void HistoryWindow::DropUnusedAxes() {
  for (auto it = axes_.begin(); it != axes_.end();) {
    const bool used = std::any_of(traces_.begin(), traces_.end(),
                                  [&](const auto& t) { return t->info.unit == (*it)->unit; });
    if (used) {
      ++it;
      continue;
    }
    chart_->removeAxis((*it)->axis);
    delete (*it)->axis;
    it = axes_.erase(it);
  }
}

void HistoryWindow::Redraw() {
  const int columns = std::max(1, static_cast<int>(chart_->plotArea().width()));
  drawn_columns_ = columns;
  DrawThresholds();  // before the axes drop: the lines use the volt axis
  DropUnusedAxes();
  for (auto& trace : traces_) DrawTrace(*trace, columns);
  FitValueAxes();
  DrawTimeAxis();
}

void HistoryWindow::DrawTrace(Trace& trace, int columns) {
  const double per_column = static_cast<double>(span_.length()) / columns;
  const auto gap =
      std::max<std::int64_t>(kGapMs, static_cast<std::int64_t>(per_column * kGapColumns));
  Decimate(trace.points, span_, columns, gap, trace.decimated);

  const std::vector<std::size_t>& starts = trace.decimated.segment_starts;
  const std::size_t wanted = std::max<std::size_t>(1, starts.size());
  UnitAxis& axis = AxisFor(trace.info.unit);
  while (trace.segments.size() < wanted) {
    auto* series = new QLineSeries;
    series->setObjectName(QStringLiteral("HistorySeries_%1").arg(trace.info.field));
    series->setName(ValueName(trace.info));
    QPen pen(trace.colour);
    pen.setWidthF(1.5);
    series->setPen(pen);
    chart_->addSeries(series);
    series->attachAxis(time_axis_);
    series->attachAxis(axis.axis);
    // One legend entry per value: only its first segment shows one.
    const bool first = trace.segments.empty();
    for (QLegendMarker* marker : chart_->legend()->markers(series)) marker->setVisible(first);
    trace.segments.push_back(series);
  }
  while (trace.segments.size() > wanted) {
    chart_->removeSeries(trace.segments.back());
    delete trace.segments.back();
    trace.segments.pop_back();
  }
  const std::span<const HistoryPoint> points = trace.decimated.points;
  for (std::size_t s = 0; s < trace.segments.size(); ++s) {
    if (starts.empty()) {
      trace.segments[s]->clear();
      continue;
    }
    const std::size_t begin = starts[s];
    const std::size_t end = s + 1 < starts.size() ? starts[s + 1] : points.size();
    trace.segments[s]->replace(ToQPoints(points.subspan(begin, end - begin)));
  }
}

void HistoryWindow::DrawThresholds() {
  const bool battery_shown = std::any_of(traces_.begin(), traces_.end(), [](const auto& t) {
    return t->info.field == kBatteryVoltsField;
  });
  const auto level = [&](int field) -> std::optional<double> {
    if (!battery_shown) return std::nullopt;
    const std::optional<HistoryPoint> latest = source_->Latest(field);
    if (!latest || !std::isfinite(latest->value)) return std::nullopt;
    return latest->value;
  };
  powersafe_level_ = level(kPowersafeThresholdField);
  emergency_level_ = level(kEmergencyThresholdField);

  const auto draw = [&](QLineSeries*& line, std::optional<double> value, const char* caption,
                        Rgb colour) {
    if (!value) {
      if (line != nullptr) {
        chart_->removeSeries(line);
        delete line;
        line = nullptr;
      }
      return;
    }
    const auto battery = std::find_if(traces_.begin(), traces_.end(), [](const auto& t) {
      return t->info.field == kBatteryVoltsField;
    });
    if (line == nullptr) {
      line = new QLineSeries;
      line->setObjectName(QStringLiteral("HistoryThreshold"));
      QPen pen(ToQColor(colour));
      pen.setStyle(Qt::DashLine);
      pen.setWidthF(1.5);
      line->setPen(pen);
      chart_->addSeries(line);
      line->attachAxis(time_axis_);
      line->attachAxis(AxisFor((*battery)->info.unit).axis);
    }
    line->setName(QStringLiteral("%1 %2 V").arg(QLatin1String(caption)).arg(*value, 0, 'f', 2));
    line->replace({QPointF(static_cast<double>(span_.from_ms), *value),
                   QPointF(static_cast<double>(span_.to_ms), *value)});
  };
  draw(powersafe_line_, powersafe_level_, "Powersafe", kPowersafeLine);
  draw(emergency_line_, emergency_level_, "Emergency", kEmergencyLine);
}

std::optional<double> HistoryWindow::ThresholdLevel(int field) const {
  if (field == kPowersafeThresholdField && powersafe_line_ != nullptr) return powersafe_level_;
  if (field == kEmergencyThresholdField && emergency_line_ != nullptr) return emergency_level_;
  return std::nullopt;
}

void HistoryWindow::FitValueAxes() {
  for (auto& axis : axes_) {
    if (axis->fixed) {
      axis->axis->setRange(axis->fixed->first, axis->fixed->second);
      continue;
    }
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    const auto take = [&](double v) {
      low = std::min(low, v);
      high = std::max(high, v);
    };
    for (const auto& trace : traces_) {
      if (trace->info.unit != axis->unit) continue;
      const auto& points = trace->decimated.points;
      // The points inside the span; the two beyond its edges only when there are none.
      const std::span<const HistoryPoint> inside = PointsWithin(points, span_);
      for (const HistoryPoint& p :
           inside.empty() ? std::span<const HistoryPoint>(points) : inside) {
        take(p.value);
      }
      if (trace->info.field == kBatteryVoltsField) {
        if (powersafe_level_) take(*powersafe_level_);
        if (emergency_level_) take(*emergency_level_);
      }
    }
    if (!std::isfinite(low)) {
      low = 0;
      high = 1;
    }
    const double room =
        high > low ? (high - low) * kValuePadding : std::max(std::abs(high) * kValuePadding, 0.5);
    axis->axis->setRange(low - room, high + room);
    axis->axis->applyNiceNumbers();
  }
}

void HistoryWindow::DrawTimeAxis() {
  for (const QString& label : time_axis_->categoriesLabels()) time_axis_->remove(label);
  const int width = std::max(1, static_cast<int>(chart_->plotArea().width()));
  time_axis_->setStartValue(static_cast<double>(span_.from_ms));
  for (const TimeTick& tick : TimeTicks(span_, std::max(2, width / kPixelsPerTick))) {
    time_axis_->append(FromUtf8(tick.label), static_cast<double>(tick.utc_ms));
  }
  time_axis_->setRange(static_cast<double>(span_.from_ms), static_cast<double>(span_.to_ms));
  time_axis_->setTitleText(QStringLiteral("UTC   %1  to  %2")
                               .arg(FromUtf8(UtcText(span_.from_ms).substr(0, 19)),
                                    FromUtf8(UtcText(span_.to_ms).substr(0, 19))));
}

void HistoryWindow::UpdateListChecks() {
  const QSignalBlocker blocker(value_list_);
  const std::vector<int> shown = ShownFields();
  for (int row = 0; row < value_list_->count(); ++row) {
    QListWidgetItem* item = value_list_->item(row);
    const int field = item->data(Qt::UserRole).toInt();
    const auto trace = std::find_if(traces_.begin(), traces_.end(),
                                    [field](const auto& t) { return t->info.field == field; });
    item->setCheckState(trace != traces_.end() ? Qt::Checked : Qt::Unchecked);
    item->setForeground(trace != traces_.end() ? QBrush((*trace)->colour) : QBrush());
  }
}

void HistoryWindow::UpdateTitle() {
  QStringList names;
  for (const auto& trace : traces_) names << FromUtf8(trace->info.caption);
  setWindowTitle(names.isEmpty() ? QStringLiteral("History")
                                 : QStringLiteral("History: ") + names.join(QStringLiteral(", ")));
}

bool HistoryWindow::SavePng(const QString& path) { return view_->grab().save(path, "PNG"); }

bool HistoryWindow::SaveCsv(const QString& path) {
  std::vector<HistoryColumn> columns;
  for (const auto& trace : traces_) {
    columns.push_back({&trace->info, PointsWithin(trace->points, span_)});
  }
  std::ostringstream text;
  WriteHistoryCsv(text, columns);
  const std::string bytes = text.str();
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(bytes.data(), static_cast<qint64>(bytes.size()));
  return file.commit();
}

void HistoryWindow::SaveWithDialog(bool picture) {
  const QString path = QFileDialog::getSaveFileName(
      this, picture ? QStringLiteral("Save picture") : QStringLiteral("Save data"),
      picture ? QStringLiteral("history.png") : QStringLiteral("history.csv"),
      picture ? QStringLiteral("PNG pictures (*.png)") : QStringLiteral("CSV tables (*.csv)"));
  if (path.isEmpty()) return;
  if (picture ? SavePng(path) : SaveCsv(path)) return;
  QMessageBox box(QMessageBox::Warning, windowTitle(), QStringLiteral("Cannot write %1").arg(path),
                  QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

std::vector<HistoryPoint> HistoryWindow::DrawnPoints(int field) const {
  std::vector<HistoryPoint> points;
  for (const auto& trace : traces_) {
    if (trace->info.field != field) continue;
    for (const QLineSeries* series : trace->segments) {
      for (const QPointF& p : series->points()) {
        points.push_back({static_cast<std::int64_t>(std::llround(p.x())), p.y()});
      }
    }
  }
  return points;
}

void HistoryWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasFormat(QLatin1String(kDisplayFieldMimeType))) {
    event->acceptProposedAction();
  }
}

void HistoryWindow::dropEvent(QDropEvent* event) {
  bool ok = false;
  const int field =
      event->mimeData()->data(QLatin1String(kDisplayFieldMimeType)).trimmed().toInt(&ok);
  if (!ok) return;
  AddValue(field);
  event->acceptProposedAction();
}

}  // namespace zevrin
