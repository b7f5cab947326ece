// The monitor pane's selection: by mouse and keyboard, copied to the clipboard,
// with the cursor that keyboard selection moves.

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimerEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "widgets/monitor_pane.h"

namespace zevrin {

namespace {

bool IsWordCharacter(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

}  // namespace

bool MonitorPane::HasSelection() const { return lines_.Clamp(anchor_) != lines_.Clamp(cursor_); }

QString MonitorPane::SelectedText() const {
  return lines_.Text(std::min(anchor_, cursor_), std::max(anchor_, cursor_));
}

void MonitorPane::SelectAll() {
  anchor_ = {lines_.FirstSerial(), 0};
  cursor_ = lines_.End();
  viewport()->update();
}

void MonitorPane::Copy() {
  if (HasSelection()) QGuiApplication::clipboard()->setText(SelectedText());
}

// The place nearest to `point` of the viewport, on a line held.
MonitorPlace MonitorPane::PlaceAt(QPointF point) {
  if (lines_.Count() == 0) return {};
  const int row = static_cast<int>(std::floor((point.y() - TopOffset()) / line_height_));
  const int index = std::clamp(verticalScrollBar()->value() + row, 0, lines_.Count() - 1);
  const QTextLine line = LayoutOf(index).lineAt(0);
  return {lines_.FirstSerial() + index, line.xToCursor(point.x() + horizontalScrollBar()->value())};
}

void MonitorPane::MoveCursor(Move move, bool select) {
  MonitorPlace place = lines_.Clamp(cursor_);
  const std::int64_t first = lines_.FirstSerial();
  const auto length = [&](std::int64_t serial) {
    return static_cast<int>(lines_.At(static_cast<int>(serial - first)).text.size());
  };
  const int page = std::max(verticalScrollBar()->pageStep(), 1);
  switch (move) {
    case Move::kLeft:
      if (place.column > 0)
        --place.column;
      else if (place.line > first)
        place = {place.line - 1, length(place.line - 1)};
      break;
    case Move::kRight:
      if (lines_.Count() == 0) break;
      if (place.column < length(place.line))
        ++place.column;
      else
        place = {place.line + 1, 0};
      break;
    case Move::kUp:
      place.line = std::max(place.line - 1, first);
      break;
    case Move::kDown:
      ++place.line;
      break;
    case Move::kLineStart:
      place.column = 0;
      break;
    case Move::kLineEnd:
      place.column = INT_MAX;
      break;
    case Move::kTop:
      place = {first, 0};
      break;
    case Move::kBottom:
      place = lines_.End();
      break;
    case Move::kPageUp:
      place.line = std::max(place.line - page, first);
      verticalScrollBar()->setValue(verticalScrollBar()->value() - page);
      break;
    case Move::kPageDown:
      place.line += page;
      verticalScrollBar()->setValue(verticalScrollBar()->value() + page);
      break;
  }
  cursor_ = lines_.Clamp(place);
  if (!select) anchor_ = cursor_;
  EnsureVisible(cursor_);
  RestartBlink();
}

void MonitorPane::EnsureVisible(MonitorPlace place) {
  if (lines_.Count() == 0) return;
  const auto index = static_cast<int>(place.line - lines_.FirstSerial());
  QScrollBar* bar = verticalScrollBar();
  if (index < bar->value())
    bar->setValue(index);
  else if (index >= bar->value() + bar->pageStep())
    bar->setValue(index - std::max(bar->pageStep(), 1) + 1);
  const qreal x = LayoutOf(index).lineAt(0).cursorToX(place.column);
  QScrollBar* across = horizontalScrollBar();
  if (x < across->value())
    across->setValue(static_cast<int>(x) - 8);
  else if (x > across->value() + viewport()->width() - 8)
    across->setValue(static_cast<int>(x) - viewport()->width() + 8);
}

void MonitorPane::SelectWordAt(MonitorPlace place) {
  if (lines_.Count() == 0) return;
  const QString& text = lines_.At(static_cast<int>(place.line - lines_.FirstSerial())).text;
  int start = place.column;
  int end = place.column;
  while (start > 0 && IsWordCharacter(text[start - 1])) --start;
  while (end < text.size() && IsWordCharacter(text[end])) ++end;
  anchor_ = {place.line, start};
  cursor_ = {place.line, end};
}

void MonitorPane::keyPressEvent(QKeyEvent* event) {
  struct KeyMove {
    QKeySequence::StandardKey move;
    QKeySequence::StandardKey select;
    Move what;
  };
  static constexpr KeyMove kMoves[] = {
      {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Move::kLeft},
      {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Move::kRight},
      {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Move::kUp},
      {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Move::kDown},
      {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Move::kLineStart},
      {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Move::kLineEnd},
      {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, Move::kTop},
      {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Move::kBottom},
      {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Move::kPageUp},
      {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Move::kPageDown},
  };
  if (event->matches(QKeySequence::Copy)) {
    Copy();
    return;
  }
  if (event->matches(QKeySequence::SelectAll)) {
    SelectAll();
    return;
  }
  for (const KeyMove& key : kMoves) {
    const bool select = event->matches(key.select);
    if (select || event->matches(key.move)) {
      MoveCursor(key.what, select);
      return;
    }
  }
  QAbstractScrollArea::keyPressEvent(event);
}

// Copy and Select All stay the pane's while it has the focus, whatever shortcuts
// the window has.
bool MonitorPane::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll)) {
      event->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(event);
}

// Ctrl and the wheel zoom the text, as in a read-only QPlainTextEdit.
void MonitorPane::wheelEvent(QWheelEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier)) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  QFont zoomed = font();
  const qreal size = zoomed.pointSizeF() + event->angleDelta().y() / 120.0;
  if (size <= 0) return;
  zoomed.setPointSizeF(size);
  setFont(zoomed);
}

void MonitorPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  cursor_ = PlaceAt(event->position());
  if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = cursor_;
  selecting_ = true;
  RestartBlink();
}

// Dragging past the top or the bottom scrolls a line at a time.
void MonitorPane::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_ || !(event->buttons() & Qt::LeftButton)) return;
  const qreal y = event->position().y();
  if (y < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (y > viewport()->height())
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  cursor_ = PlaceAt(event->position());
  viewport()->update();
}

void MonitorPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  selecting_ = false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard->supportsSelection() && HasSelection())
    clipboard->setText(SelectedText(), QClipboard::Selection);
}

void MonitorPane::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  SelectWordAt(PlaceAt(event->position()));
  selecting_ = false;
  viewport()->update();
}

void MonitorPane::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy = menu.addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), tr("&Copy"), this,
                                 &MonitorPane::Copy);
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(HasSelection());
  menu.addSeparator();
  QAction* all = menu.addAction(QIcon::fromTheme(QStringLiteral("edit-select-all")),
                                tr("Select All"), this, &MonitorPane::SelectAll);
  all->setShortcut(QKeySequence::SelectAll);
  all->setEnabled(lines_.Count() > 0);
  menu.exec(event->globalPos());
}

// The cursor blinks while the pane has the focus, as in other text fields.
void MonitorPane::RestartBlink() {
  cursor_shown_ = hasFocus();
  const int flash = QApplication::cursorFlashTime();
  if (cursor_shown_ && flash >= 2)
    blink_.start(flash / 2, this);
  else
    blink_.stop();
  viewport()->update();
}

void MonitorPane::timerEvent(QTimerEvent* event) {
  if (event->timerId() != blink_.timerId()) {
    QAbstractScrollArea::timerEvent(event);
    return;
  }
  cursor_shown_ = !cursor_shown_;
  viewport()->update();
}

void MonitorPane::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  RestartBlink();
}

void MonitorPane::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  RestartBlink();
}

}  // namespace zevrin
