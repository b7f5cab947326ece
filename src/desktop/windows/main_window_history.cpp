// The display fields that offer their history: a double-click or the context
// menu's "History..." entry asks for the trend, and dragging a field carries its
// number to a history window.

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

#include "history/history_window.h"
#include "windows/main_window.h"

namespace zevrin {

namespace {

// The field's number for a history window, its text for anything else.
void DragField(QLineEdit* edit, int field) {
  auto* data = new QMimeData;
  data->setData(QLatin1String(kDisplayFieldMimeType), QByteArray::number(field));
  data->setText(edit->text());
  auto* drag = new QDrag(edit);
  drag->setMimeData(data);
  drag->exec(Qt::CopyAction);
}

}  // namespace

void MainWindow::SetHistoryFields(std::span<const int> fields) {
  history_fields_.reset();
  for (const int field : fields) {
    if (field < 0 || field >= kDisplayFieldCount) continue;
    QLineEdit* edit = fields_[static_cast<std::size_t>(field)];
    if (edit == nullptr) continue;  // hidden fields cannot be clicked
    history_fields_.set(static_cast<std::size_t>(field));
    edit->installEventFilter(this);
    edit->setToolTip(QStringLiteral("Double-click or drag to a history window for the trend"));
  }
}

int MainWindow::HistoryFieldOf(const QObject* watched) const {
  int field = -1;
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    if (fields_[static_cast<std::size_t>(index)] == watched &&
        history_fields_.test(static_cast<std::size_t>(index))) {
      field = index;
    }
  }
  return field;
}

// The line's own context menu with "History..." below it.
void MainWindow::ShowHistoryMenu(int field, const QPoint& where) {
  QMenu* menu = fields_[static_cast<std::size_t>(field)]->createStandardContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addSeparator();
  QAction* history = menu->addAction(QStringLiteral("History..."));
  history->setObjectName(QStringLiteral("HistoryAction"));
  connect(history, &QAction::triggered, this, [this, field] { emit HistoryRequested(field); });
  menu->popup(where);
}

// Double-click, context menu and dragging on the fields that offer their history.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  const int field = HistoryFieldOf(watched);
  if (field < 0) return QMainWindow::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonDblClick:
      emit HistoryRequested(field);
      return true;
    case QEvent::ContextMenu:
      ShowHistoryMenu(field, static_cast<QContextMenuEvent*>(event)->globalPos());
      return true;
    case QEvent::MouseButtonPress:
      drag_start_ = static_cast<QMouseEvent*>(event)->position().toPoint();
      break;
    case QEvent::MouseMove: {
      const auto* move = static_cast<QMouseEvent*>(event);
      if (!(move->buttons() & Qt::LeftButton) ||
          (move->position().toPoint() - drag_start_).manhattanLength() <
              QApplication::startDragDistance()) {
        break;
      }
      DragField(fields_[static_cast<std::size_t>(field)], field);
      return true;
    }
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace zevrin
