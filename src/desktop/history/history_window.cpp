#include "history/history_window.h"

#include <QChart>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "history/chart_view.h"
#include "history/saving.h"
#include "widgets/qt_text.h"

namespace zevrin {

namespace {

constexpr int kRefreshMs = 1000;
constexpr int kListWidth = 230;
constexpr int kPlotMinWidth = 480;
constexpr int kPlotMinHeight = 300;
constexpr int kWindowWidth = 1000;
constexpr int kWindowHeight = 620;

}  // namespace

HistoryWindow::HistoryWindow(const HistorySource& source, const Clock& clock,
                             std::int64_t run_start_ms, QWidget* parent)
    : QWidget(parent, Qt::Window),
      source_(&source),
      clock_(clock),
      run_start_ms_(run_start_ms),
      values_(source.Values()) {
  setObjectName(QStringLiteral("HistoryWindow"));
  setAcceptDrops(true);
  view_ = new HistoryChartView(plot_.chart(), *this);
  view_->setObjectName(QStringLiteral("HistoryChartView"));
  view_->setMinimumSize(kPlotMinWidth, kPlotMinHeight);

  // The range and saving on top, the values on the left of the plot, a hint below.
  QHBoxLayout* top = MakeTopRow();
  QVBoxLayout* left = MakeValueList();
  auto* middle = new QHBoxLayout;
  middle->addLayout(left);
  middle->addWidget(view_, 1);
  QLabel* hint = MakeHint();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(middle, 1);
  layout->addWidget(hint);
  resize(kWindowWidth, kWindowHeight);

  span_ = PresetSpan(range_, run_start_ms_, NowMs(), std::nullopt);
  WatchPlotWidth();
  refresh_timer_.setInterval(kRefreshMs);
  connect(&refresh_timer_, &QTimer::timeout, this, &HistoryWindow::Refresh);
  refresh_timer_.start();
  UpdateTitle();
}

HistoryWindow::~HistoryWindow() = default;

// Top row: range, reset and saving.
QHBoxLayout* HistoryWindow::MakeTopRow() {
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
  connect(save_png, &QPushButton::clicked, this,
          [this] { SaveWithDialog(*this, true, [this](const QString& p) { return SavePng(p); }); });
  auto* save_csv = new QPushButton(QStringLiteral("Save data..."), this);
  save_csv->setObjectName(QStringLiteral("HistorySaveData"));
  connect(save_csv, &QPushButton::clicked, this, [this] {
    SaveWithDialog(*this, false, [this](const QString& p) { return SaveCsv(p); });
  });
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Range:"), this));
  top->addWidget(range_box_);
  top->addWidget(reset);
  top->addStretch(1);
  top->addWidget(save_png);
  top->addWidget(save_csv);
  return top;
}

// Left: every value with a history, checked while shown.
QVBoxLayout* HistoryWindow::MakeValueList() {
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
  return left;
}

QLabel* HistoryWindow::MakeHint() {
  auto* hint = new QLabel(
      QStringLiteral("Wheel or +/-: zoom · drag: zoom to a box · Shift+drag, middle button or "
                     "arrow keys: pan · Home: reset · times in UTC"),
      this);
  hint->setObjectName(QStringLiteral("HistoryHint"));
  hint->setTextFormat(Qt::PlainText);
  hint->setWordWrap(true);
  return hint;
}

// A wider or narrower plot takes more or fewer points: thin again once the
// layout has settled.
void HistoryWindow::WatchPlotWidth() {
  connect(plot_.chart(), &QChart::plotAreaChanged, this, [this](const QRectF& area) {
    if (static_cast<int>(area.width()) != plot_.drawn_columns()) {
      QTimer::singleShot(0, this, [this] {
        if (static_cast<int>(plot_.chart()->plotArea().width()) != plot_.drawn_columns()) Redraw();
      });
    }
  });
}

QChartView* HistoryWindow::chart_view() const { return view_; }

std::int64_t HistoryWindow::NowMs() const { return ToUtcMillis(clock_.Now()); }

void HistoryWindow::AddValue(int field) {
  const auto info = std::find_if(values_.begin(), values_.end(),
                                 [field](const HistoryValueInfo& v) { return v.field == field; });
  if (info == values_.end()) return;
  if (plot_.Find(field) != nullptr) return;

  LoadTrace(*source_, plot_.AddTrace(*info));
  if (following_) span_ = PresetSpan(range_, run_start_ms_, NowMs(), DataExtent(plot_.traces()));
  UpdateListChecks();
  UpdateTitle();
  Redraw();
}

void HistoryWindow::RemoveValue(int field) {
  if (!plot_.RemoveTrace(field)) return;
  UpdateListChecks();
  UpdateTitle();
  Redraw();
}

std::vector<int> HistoryWindow::ShownFields() const {
  std::vector<int> fields;
  for (const auto& trace : plot_.traces()) fields.push_back(trace->info.field);
  return fields;
}

void HistoryWindow::Refresh() {
  bool changed = false;
  for (auto& trace : plot_.traces()) {
    const std::size_t before = trace->points.size();
    ReadNewPoints(*source_, *trace);
    changed = changed || trace->points.size() != before;
  }
  if (following_) {
    const TimeSpan span = PresetSpan(range_, run_start_ms_, NowMs(), DataExtent(plot_.traces()));
    changed = changed || span != span_;
    span_ = span;
  }
  if (changed) Redraw();
}

void HistoryWindow::SetSource(const HistorySource& source) {
  source_ = &source;
  for (auto& trace : plot_.traces()) LoadTrace(source, *trace);
  if (following_) span_ = PresetSpan(range_, run_start_ms_, NowMs(), DataExtent(plot_.traces()));
  Redraw();
}

void HistoryWindow::SetRange(HistoryRange range) {
  range_ = range;
  range_box_->setCurrentIndex(static_cast<int>(range));
  ResetView();
}

void HistoryWindow::ResetView() {
  following_ = true;
  plot_.FreeValueAxes();
  span_ = PresetSpan(range_, run_start_ms_, NowMs(), DataExtent(plot_.traces()));
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
  plot_.FixValueAxes(top, bottom);
  const double length = static_cast<double>(span_.length());
  const auto from = span_.from_ms + static_cast<std::int64_t>(std::llround(left * length));
  const auto to = span_.from_ms + static_cast<std::int64_t>(std::llround(right * length));
  SetSpan({from, to});
}

void HistoryWindow::Redraw() { plot_.Redraw(*source_, span_, NowMs()); }

std::optional<double> HistoryWindow::ThresholdLevel(int field) const {
  return plot_.ThresholdLevel(field);
}

std::vector<HistoryPoint> HistoryWindow::DrawnPoints(int field) const {
  return plot_.DrawnPoints(field);
}

void HistoryWindow::UpdateListChecks() {
  const QSignalBlocker blocker(value_list_);
  for (int row = 0; row < value_list_->count(); ++row) {
    QListWidgetItem* item = value_list_->item(row);
    const HistoryTrace* trace = plot_.Find(item->data(Qt::UserRole).toInt());
    item->setCheckState(trace != nullptr ? Qt::Checked : Qt::Unchecked);
    item->setForeground(trace != nullptr ? QBrush(trace->colour) : QBrush());
  }
}

void HistoryWindow::UpdateTitle() {
  QStringList names;
  for (const auto& trace : plot_.traces()) names << FromUtf8(trace->info.caption);
  setWindowTitle(names.isEmpty() ? QStringLiteral("History")
                                 : QStringLiteral("History: ") + names.join(QStringLiteral(", ")));
}

bool HistoryWindow::SavePng(const QString& path) { return view_->grab().save(path, "PNG"); }

bool HistoryWindow::SaveCsv(const QString& path) {
  return WriteTracesCsv(path, plot_.traces(), span_);
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
