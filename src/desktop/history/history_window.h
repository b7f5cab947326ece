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
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "base/time_of_day.h"
#include "history/history_windows.h"
#include "views/decimation.h"
#include "views/history_source.h"
#include "views/history_view.h"

QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
class QCategoryAxis;
QT_END_NAMESPACE

namespace zevrin {

/// The drag-and-drop type of a display field: its number as decimal text.
inline constexpr char kDisplayFieldMimeType[] = "application/x-zevrin-display-field";

/// The battery voltage and the two battery thresholds drawn beside it.
inline constexpr int kBatteryVoltsField = 18;
inline constexpr int kPowersafeThresholdField = 43;
inline constexpr int kEmergencyThresholdField = 44;

class HistoryChartView;

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
  struct Trace;
  struct UnitAxis;
  friend class HistoryChartView;

  void LoadTrace(Trace& trace);
  void ReadNewPoints(Trace& trace);
  void Redraw();
  void DrawTrace(Trace& trace, int columns);
  void DrawThresholds();
  void FitValueAxes();
  void DrawTimeAxis();
  UnitAxis& AxisFor(const std::string& unit);
  void DropUnusedAxes();
  std::optional<TimeSpan> DataExtent() const;
  std::int64_t NowMs() const;
  void UpdateListChecks();
  void UpdateTitle();
  void SaveWithDialog(bool picture);

  // From the chart view: zoom to a rectangle of the plot area, given as fractions
  // of its width and height (0,0 top left), and pan by a fraction of the span.
  void ZoomToBox(double left, double right, double top, double bottom);
  void ZoomAround(double factor, double anchor);
  void Pan(double fraction);

  const HistorySource* source_;
  const Clock& clock_;
  std::int64_t run_start_ms_;
  std::vector<HistoryValueInfo> values_;

  QChart* chart_ = nullptr;
  HistoryChartView* view_ = nullptr;
  QCategoryAxis* time_axis_ = nullptr;
  QComboBox* range_box_ = nullptr;
  QListWidget* value_list_ = nullptr;
  std::vector<std::unique_ptr<Trace>> traces_;
  std::vector<std::unique_ptr<UnitAxis>> axes_;
  QLineSeries* powersafe_line_ = nullptr;
  QLineSeries* emergency_line_ = nullptr;
  std::optional<double> powersafe_level_;
  std::optional<double> emergency_level_;
  QTimer refresh_timer_;
  int next_colour_ = 0;
  int drawn_columns_ = 0;

  HistoryRange range_ = HistoryRange::kLast24Hours;
  TimeSpan span_;
  bool following_ = true;
};

}  // namespace zevrin
