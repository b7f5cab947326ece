#include "history/plot.h"

#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsRectItem>
#include <QGraphicsTextItem>
#include <QLegend>
#include <QLineSeries>
#include <QTextDocument>
#include <QTextFrame>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "views/decimation.h"
#include "views/history_view.h"
#include "widgets/qt_text.h"

namespace zevrin {

namespace {

// Two points further apart than this many pixel columns, and than a few minutes
// (the pause between records within a pass), are not joined: passes stay apart.
constexpr int kGapColumns = 8;
constexpr std::int64_t kGapMs = 5 * 60 * kMillisPerSecond;
constexpr int kPixelsPerTick = 90;
constexpr int kChartMargin = 4;
constexpr double kNoticeScale = 1.4;
constexpr char kRealLabels[] = "%.4g";
constexpr char kWholeLabels[] = "%.0f";
constexpr double kLineWidth = 1.5;
// Alarm shades: see-through, above the plot's background and below its grid and
// lines, and wide enough to be seen even for a moment's alarm.
constexpr int kShadeAlpha = 56;
constexpr double kShadeZ = 1.5;
constexpr double kShadeLeastWidth = 2;
// "YYYY-MM-DD HH:MM:SS" of UtcText, without the milliseconds.
constexpr std::size_t kTitleTimeChars = 19;

QList<QPointF> ToQPoints(std::span<const HistoryPoint> points) {
  QList<QPointF> list;
  list.reserve(static_cast<qsizetype>(points.size()));
  for (const HistoryPoint& p : points) list.append(QPointF(static_cast<double>(p.utc_ms), p.value));
  return list;
}

}  // namespace

// A value axis for every unit shown: units alternate between left and right.
struct HistoryPlot::UnitAxis {
  std::string unit;
  QValueAxis* axis = nullptr;
  // Set by a box zoom; otherwise the axis fits the shown data.
  std::optional<std::pair<double, double>> fixed;
};

HistoryPlot::HistoryPlot() : chart_(new QChart), legend_(chart_, kChartMargin) {
  chart_->setObjectName(QStringLiteral("HistoryChart"));
  chart_->legend()->hide();  // it cuts long names short; legend_ wraps them instead
  chart_->setMargins(QMargins(kChartMargin, kChartMargin, kChartMargin, kChartMargin));
  time_axis_ = new QCategoryAxis;
  time_axis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  chart_->addAxis(time_axis_, Qt::AlignBottom);
  notice_ = new QGraphicsTextItem(chart_);
  notice_->setObjectName(QStringLiteral("HistoryNotice"));
  QFont font = chart_->legend()->font();
  font.setPointSizeF(font.pointSizeF() * kNoticeScale);
  notice_->setFont(font);
  notice_->setDefaultTextColor(chart_->legend()->labelColor());
  notice_->setZValue(chart_->legend()->zValue());  // above the grid and the lines
  // A new size of the chart moves the plot area: wrap the legend anew, centre the notice.
  resized_ = QObject::connect(chart_, &QChart::plotAreaChanged, chart_, [this] {
    legend_.Place();
    PlaceNotice();
    PlaceAlarmShades();
  });
}

// The chart belongs to its view and may outlive the plot.
HistoryPlot::~HistoryPlot() { QObject::disconnect(resized_); }

HistoryTrace& HistoryPlot::AddTrace(const HistoryValueInfo& info) {
  auto trace = std::make_unique<HistoryTrace>();
  trace->info = info;
  constexpr int kColours = static_cast<int>(std::size(kHistoryLineColours));
  trace->colour = ToQColor(kHistoryLineColours[next_colour_++ % kColours]);
  traces_.push_back(std::move(trace));
  return *traces_.back();
}

bool HistoryPlot::RemoveTrace(int field) {
  const auto it = std::find_if(traces_.begin(), traces_.end(),
                               [field](const auto& t) { return t->info.field == field; });
  if (it == traces_.end()) return false;
  for (QLineSeries* series : (*it)->segments) {
    chart_->removeSeries(series);
    delete series;
  }
  traces_.erase(it);
  return true;
}

const HistoryTrace* HistoryPlot::Find(int field) const {
  const auto it = std::find_if(traces_.begin(), traces_.end(),
                               [field](const auto& t) { return t->info.field == field; });
  return it != traces_.end() ? it->get() : nullptr;
}

void HistoryPlot::FixValueAxes(double top, double bottom) {
  for (auto& axis : axes_) {
    if (!axis->axis->isVisible()) continue;  // no range shown to zoom into
    const double min = axis->axis->min();
    const double max = axis->axis->max();
    axis->fixed = std::make_pair(max - bottom * (max - min), max - top * (max - min));
  }
}

void HistoryPlot::FreeValueAxes() {
  for (auto& axis : axes_) axis->fixed.reset();
}

HistoryPlot::UnitAxis& HistoryPlot::AxisFor(const std::string& unit) {
  for (auto& axis : axes_) {
    if (axis->unit == unit) return *axis;
  }
  auto axis = std::make_unique<UnitAxis>();
  axis->unit = unit;
  axis->axis = new QValueAxis;
  axis->axis->setTitleText(unit.empty() ? QStringLiteral("count") : FromUtf8(unit));
  chart_->addAxis(axis->axis, axes_.size() % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
  axes_.push_back(std::move(axis));
  return *axes_.back();
}

void HistoryPlot::DropUnusedAxes() {
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

void HistoryPlot::Redraw(const HistorySource& source, TimeSpan span, std::int64_t now_ms) {
  const int columns = std::max(1, static_cast<int>(chart_->plotArea().width()));
  drawn_columns_ = columns;
  DrawThresholds(source, span);  // before the axes drop: the lines use the volt axis
  DropUnusedAxes();
  for (auto& trace : traces_) DrawTrace(*trace, span, columns);
  FitValueAxes(span);
  DrawTimeAxis(span);
  DrawAlarmSpans(source, span, now_ms);
  ShowLegendAndNotice(span);
}

void HistoryPlot::DrawAlarmSpans(const HistorySource& source, TimeSpan span, std::int64_t now_ms) {
  alarm_spans_.clear();
  for (const auto& trace : traces_) {
    const std::vector<TimeSpan> spans = source.AlarmSpans(trace->info.field, span, now_ms);
    alarm_spans_.insert(alarm_spans_.end(), spans.begin(), spans.end());
  }
  shaded_span_ = span;
  PlaceAlarmShades();
}

void HistoryPlot::PlaceAlarmShades() {
  while (shades_.size() < alarm_spans_.size()) {
    auto* shade = new QGraphicsRectItem(chart_);
    QColor colour = ToQColor(kAlarmShade);
    colour.setAlpha(kShadeAlpha);
    shade->setBrush(colour);
    shade->setPen(Qt::NoPen);
    shade->setZValue(kShadeZ);
    shades_.push_back(shade);
  }
  while (shades_.size() > alarm_spans_.size()) {
    delete shades_.back();
    shades_.pop_back();
  }
  const QRectF area = chart_->plotArea();
  const auto length = static_cast<double>(std::max<std::int64_t>(1, shaded_span_.length()));
  const auto x = [&](std::int64_t ms) {
    const std::int64_t t = std::clamp(ms, shaded_span_.from_ms, shaded_span_.to_ms);
    return area.left() + static_cast<double>(t - shaded_span_.from_ms) / length * area.width();
  };
  for (std::size_t i = 0; i < shades_.size(); ++i) {
    const double left = x(alarm_spans_[i].from_ms);
    const double width = std::max(kShadeLeastWidth, x(alarm_spans_[i].to_ms) - left);
    shades_[i]->setRect(left, area.top(), width, area.height());
  }
}

void HistoryPlot::DrawTrace(HistoryTrace& trace, TimeSpan span, int columns) {
  const double per_column = static_cast<double>(span.length()) / columns;
  const auto gap =
      std::max<std::int64_t>(kGapMs, static_cast<std::int64_t>(per_column * kGapColumns));
  Decimate(trace.points, span, columns, gap, trace.decimated);

  const std::vector<std::size_t>& starts = trace.decimated.segment_starts;
  const std::size_t wanted = std::max<std::size_t>(1, starts.size());
  UnitAxis& axis = AxisFor(trace.info.unit);
  while (trace.segments.size() < wanted) {
    auto* series = new QLineSeries;
    series->setObjectName(QStringLiteral("HistorySeries_%1").arg(trace.info.field));
    series->setName(ValueName(trace.info));
    QPen pen(trace.colour);
    pen.setWidthF(kLineWidth);
    series->setPen(pen);
    chart_->addSeries(series);
    series->attachAxis(time_axis_);
    series->attachAxis(axis.axis);
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

void HistoryPlot::DrawThresholds(const HistorySource& source, TimeSpan span) {
  const bool battery_shown = Find(kBatteryVoltsField) != nullptr;
  const auto level = [&](int field) -> std::optional<double> {
    if (!battery_shown) return std::nullopt;
    const std::optional<HistoryPoint> latest = source.Latest(field);
    if (!latest || !std::isfinite(latest->value)) return std::nullopt;
    return latest->value;
  };
  powersafe_level_ = level(kPowersafeThresholdField);
  emergency_level_ = level(kEmergencyThresholdField);
  DrawThresholdLine(powersafe_line_, powersafe_level_, "Powersafe", kPowersafeLine, span);
  DrawThresholdLine(emergency_line_, emergency_level_, "Emergency", kEmergencyLine, span);
}

// A dashed line across the span at `value` on the battery's axis; none without a value.
void HistoryPlot::DrawThresholdLine(QLineSeries*& line, std::optional<double> value,
                                    const char* caption, Rgb colour, TimeSpan span) {
  if (!value) {
    if (line != nullptr) {
      chart_->removeSeries(line);
      delete line;
      line = nullptr;
    }
    return;
  }
  if (line == nullptr) {
    line = new QLineSeries;
    line->setObjectName(QStringLiteral("HistoryThreshold"));
    QPen pen(ToQColor(colour));
    pen.setStyle(Qt::DashLine);
    pen.setWidthF(kLineWidth);
    line->setPen(pen);
    chart_->addSeries(line);
    line->attachAxis(time_axis_);
    line->attachAxis(AxisFor(Find(kBatteryVoltsField)->info.unit).axis);
  }
  line->setName(QStringLiteral("%1 %2 V").arg(QLatin1String(caption)).arg(*value, 0, 'f', 2));
  line->replace({QPointF(static_cast<double>(span.from_ms), *value),
                 QPointF(static_cast<double>(span.to_ms), *value)});
}

std::optional<double> HistoryPlot::ThresholdLevel(int field) const {
  if (field == kPowersafeThresholdField && powersafe_line_ != nullptr) return powersafe_level_;
  if (field == kEmergencyThresholdField && emergency_line_ != nullptr) return emergency_level_;
  return std::nullopt;
}

// Each axis spans what its values draw in the span and, beside the battery
// voltage, the thresholds; an axis with nothing drawn is hidden rather than given
// a range of no data. A box zoom keeps its band, on whole marks for whole values.
void HistoryPlot::FitValueAxes(TimeSpan span) {
  for (auto& axis : axes_) {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    bool whole = true;
    const auto take = [&](double v) {
      low = std::min(low, v);
      high = std::max(high, v);
    };
    for (const auto& trace : traces_) {
      if (trace->info.unit != axis->unit) continue;
      whole = whole && trace->info.whole;
      for (const HistoryPoint& p : ShownPoints(trace->decimated, span)) take(p.value);
      if (trace->info.field == kBatteryVoltsField) {
        if (powersafe_level_) take(*powersafe_level_);
        if (emergency_level_) take(*emergency_level_);
      }
    }
    std::optional<ValueAxisRange> range = ValueAxisFor(low, high, whole);
    if (axis->fixed) {
      const auto [min, max] = *axis->fixed;
      range =
          whole ? ValueAxisFor(min, max, true) : ValueAxisRange{min, max, axis->axis->tickCount()};
    }
    axis->axis->setVisible(range.has_value());
    if (!range) continue;
    axis->axis->setRange(range->min, range->max);
    axis->axis->setTickCount(range->ticks);
    axis->axis->setLabelFormat(QLatin1String(whole ? kWholeLabels : kRealLabels));
  }
}

void HistoryPlot::DrawTimeAxis(TimeSpan span) {
  for (const QString& label : time_axis_->categoriesLabels()) time_axis_->remove(label);
  const int width = std::max(1, static_cast<int>(chart_->plotArea().width()));
  time_axis_->setStartValue(static_cast<double>(span.from_ms));
  for (const TimeTick& tick : TimeTicks(span, std::max(2, width / kPixelsPerTick))) {
    time_axis_->append(FromUtf8(tick.label), static_cast<double>(tick.utc_ms));
  }
  time_axis_->setRange(static_cast<double>(span.from_ms), static_cast<double>(span.to_ms));
  time_axis_->setTitleText(QStringLiteral("UTC   %1  to  %2")
                               .arg(FromUtf8(UtcText(span.from_ms).substr(0, kTitleTimeChars)),
                                    FromUtf8(UtcText(span.to_ms).substr(0, kTitleTimeChars))));
}

void HistoryPlot::ShowLegendAndNotice(TimeSpan span) {
  std::vector<LegendEntry> entries;
  bool recorded = false;
  bool drawn = false;
  for (const auto& trace : traces_) {
    entries.push_back({trace->colour, ValueName(trace->info)});
    recorded = recorded || !trace->points.empty();
    drawn = drawn || !ShownPoints(trace->decimated, span).empty();
  }
  for (const QLineSeries* line : {powersafe_line_, emergency_line_}) {
    if (line != nullptr) entries.push_back({line->pen().color(), line->name(), true});
  }
  if (!alarm_spans_.empty()) entries.push_back({ToQColor(kAlarmShade), QStringLiteral("Alarm")});
  legend_.Show(entries);
  const std::string_view notice = PlotNotice(!traces_.empty(), recorded, drawn);
  notice_->setPlainText(FromUtf8(notice));
  // On the chart's background, so that no grid line runs through the text.
  QTextFrameFormat frame = notice_->document()->rootFrame()->frameFormat();
  frame.setBackground(chart_->backgroundBrush());
  notice_->document()->rootFrame()->setFrameFormat(frame);
  notice_->setVisible(!notice.empty());
  PlaceNotice();
}

// In the middle of the plot area.
void HistoryPlot::PlaceNotice() {
  const QRectF text = notice_->boundingRect();
  notice_->setPos(chart_->plotArea().center() - text.center());
}

std::vector<HistoryPoint> HistoryPlot::DrawnPoints(int field) const {
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

}  // namespace zevrin
