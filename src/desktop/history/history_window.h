#pragma once
// The history window: the trend of one or more recorded values over time, drawn
// with Qt Charts. The decimation, the shown span and the exported table are core
// rules; this window only draws them and takes the user's zooming and panning.
// Including this header brings the registry of open windows (HistoryWindows) too.

#include <QComboBox>
#include <QListWidget>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/time_of_day.h"
#include "history/history_windows.h"
#include "history/plot.h"
#include "views/history_source.h"
#include "views/history_view.h"

QT_BEGIN_NAMESPACE
class QChartView;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;
QT_END_NAMESPACE

namespace zevrin {

/// The drag-and-drop type of a display field: its number as decimal text.
inline constexpr char kDisplayFieldMimeType[] = "application/x-zevrin-display-field";

class HistoryChartView;

/// A window of its own with the value list, the plot and its range and saving.
class HistoryWindow final : public QWidget {
  Q_OBJECT

 public:
  /// `source` and `clock` must outlive the window; `run_start_ms` is the moment
  /// this run of the program began (the start of "this run").
  HistoryWindow(const HistorySource& source, const Clock& clock, std::int64_t run_start_ms,
                QWidget* parent = nullptr);
  ~HistoryWindow() override;

  /// Adds a value to the plot; nothing happens for a field without a history or
  /// one already shown.
  void AddValue(int field);
  void RemoveValue(int field);
  /// The fields shown, in the order they were added.
  std::vector<int> ShownFields() const;

  /// Shows a preset range and follows it as time goes on.
  void SetRange(HistoryRange range);
  HistoryRange range() const { return range_; }
  /// Shows `span`; the view no longer follows new records.
  void SetSpan(TimeSpan span);
  TimeSpan span() const { return span_; }
  /// Back to the preset range, the value axes fitted to the data again.
  void ResetView();
  /// True while the view moves along with the preset range.
  bool following() const { return following_; }

  /// Reads the records added since the last look and redraws; runs every second.
  void Refresh();
  /// Switches to another source (the program restarted with another archive):
  /// every shown value is read anew.
  void SetSource(const HistorySource& source);

  /// The picture of the plot as PNG; false when the file cannot be written.
  bool SavePng(const QString& path);
  /// The shown data (every point of every value inside the shown span) as CSV.
  bool SaveCsv(const QString& path);

  /// The points drawn for `field`, every segment one after the other.
  std::vector<HistoryPoint> DrawnPoints(int field) const;
  /// The level of a reference line drawn now, or none.
  std::optional<double> ThresholdLevel(int field) const;
  QChartView* chart_view() const;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  friend class HistoryChartView;

  QHBoxLayout* MakeTopRow();
  QVBoxLayout* MakeValueList();
  QLabel* MakeHint();
  void WatchPlotWidth();
  void Redraw();
  std::int64_t NowMs() const;
  void UpdateListChecks();
  void UpdateTitle();

  // From the chart view: zoom to a rectangle of the plot area, given as fractions
  // of its width and height (0,0 top left), and pan by a fraction of the span.
  void ZoomToBox(double left, double right, double top, double bottom);
  void ZoomAround(double factor, double anchor);
  void Pan(double fraction);

  const HistorySource* source_;
  const Clock& clock_;
  std::int64_t run_start_ms_;
  std::vector<HistoryValueInfo> values_;

  HistoryPlot plot_;
  HistoryChartView* view_ = nullptr;
  QComboBox* range_box_ = nullptr;
  QListWidget* value_list_ = nullptr;
  QTimer refresh_timer_;

  HistoryRange range_ = HistoryRange::kLast24Hours;
  TimeSpan span_;
  bool following_ = true;
};

}  // namespace zevrin
