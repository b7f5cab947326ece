#pragma once
// The Alarms window: the alarms raised now and the recent ones, and the
// acknowledgement of a raised alarm. It shows the rows the core's AlarmBoard
// makes; the session fills it and acknowledges through the evaluator.

#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <vector>

#include "views/alarm_board.h"

namespace zevrin {

class AlarmsWindow final : public QWidget {
  Q_OBJECT

 public:
  explicit AlarmsWindow(QWidget* parent = nullptr);

  /// Replaces the list; the selected raised alarm stays selected.
  void ShowRows(const std::vector<AlarmListRow>& rows);
  QTableWidget* table() const { return table_; }
  QPushButton* acknowledge_button() const { return acknowledge_; }

 Q_SIGNALS:
  /// "Acknowledge" for the raised alarm of evaluator rule `rule`.
  void AcknowledgeRequested(int rule);

 private:
  void UpdateButton();
  int SelectedRule() const;

  QTableWidget* table_ = nullptr;
  QPushButton* acknowledge_ = nullptr;
  std::vector<AlarmListRow> rows_;
};

}  // namespace zevrin
