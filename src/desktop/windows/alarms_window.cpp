#include "windows/alarms_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "widgets/qt_text.h"

namespace zevrin {

namespace {

constexpr int kStartWidth = 900;
constexpr int kStartHeight = 360;
constexpr int kMessageColumn = 0;
constexpr int kSeverityColumn = 1;

}  // namespace

AlarmsWindow::AlarmsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("AlarmsWindow"));
  setWindowTitle(QStringLiteral("Alarms"));
  auto* layout = new QVBoxLayout(this);
  table_ = new QTableWidget(0, static_cast<int>(kAlarmColumns.size()), this);
  table_->setObjectName(QStringLiteral("AlarmList"));
  QStringList headers;
  for (const std::string_view column : kAlarmColumns) headers << FromUtf8(column);
  table_->setHorizontalHeaderLabels(headers);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setWordWrap(false);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table_->horizontalHeader()->setSectionResizeMode(kMessageColumn, QHeaderView::Stretch);
  layout->addWidget(table_, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  acknowledge_ = new QPushButton(QStringLiteral("&Acknowledge"), this);
  acknowledge_->setObjectName(QStringLiteral("AcknowledgeButton"));
  acknowledge_->setToolTip(QStringLiteral("The selected alarm has been seen"));
  buttons->addWidget(acknowledge_);
  layout->addLayout(buttons);
  connect(table_, &QTableWidget::itemSelectionChanged, this, &AlarmsWindow::UpdateButton);
  connect(acknowledge_, &QPushButton::clicked, this, [this] {
    const int rule = SelectedRule();
    if (rule >= 0) Q_EMIT AcknowledgeRequested(rule);
  });
  UpdateButton();
  resize(kStartWidth, kStartHeight);
}

void AlarmsWindow::ShowRows(const std::vector<AlarmListRow>& rows) {
  const int selected_rule = SelectedRule();
  rows_ = rows;
  table_->setRowCount(static_cast<int>(rows_.size()));
  for (int r = 0; r < table_->rowCount(); ++r) {
    const AlarmListRow& row = rows_[static_cast<std::size_t>(r)];
    for (int c = 0; c < table_->columnCount(); ++c) {
      auto* item = new QTableWidgetItem(FromUtf8(row.texts[static_cast<std::size_t>(c)]));
      if (c == kSeverityColumn && row.rule) {
        // Raised now: coloured as the indicator is.
        const AlarmColours colours = AlarmSeverityColours(row.severity);
        item->setBackground(ToQColor(colours.background));
        item->setForeground(ToQColor(colours.text));
      }
      if (row.rule) {
        QFont font = item->font();
        font.setBold(true);
        item->setFont(font);
      }
      table_->setItem(r, c, item);
    }
    if (row.rule && static_cast<int>(*row.rule) == selected_rule) table_->selectRow(r);
  }
  UpdateButton();
}

int AlarmsWindow::SelectedRule() const {
  const QList<QTableWidgetItem*> items = table_->selectedItems();
  if (items.isEmpty()) return -1;
  const auto r = static_cast<std::size_t>(items.front()->row());
  if (r >= rows_.size() || !rows_[r].rule) return -1;
  return static_cast<int>(*rows_[r].rule);
}

void AlarmsWindow::UpdateButton() {
  const QList<QTableWidgetItem*> items = table_->selectedItems();
  const auto r = items.isEmpty() ? rows_.size() : static_cast<std::size_t>(items.front()->row());
  acknowledge_->setEnabled(r < rows_.size() && rows_[r].acknowledgeable);
}

}  // namespace zevrin
