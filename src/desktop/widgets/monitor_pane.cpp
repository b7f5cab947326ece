#include "widgets/monitor_pane.h"

#include <QFont>
#include <QFontDatabase>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "base/colours.h"
#include "widgets/qt_text.h"

namespace zevrin {

namespace {

constexpr ColourRole kRoles[] = {ColourRole::kSeparator, ColourRole::kSummary, ColourRole::kControl,
                                 ColourRole::kAddress, ColourRole::kDump};

}  // namespace

MonitorPane::MonitorPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  // Selecting and copying stay possible; nothing the user does moves where
  // the texts go, because they are written through a cursor of our own.
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setUndoRedoEnabled(false);  // an undo history would keep every removed line
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setMaximumBlockCount(kMonitorLineLimit);

  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPointSizeF(9);
  if (!QFontInfo(font).fixedPitch()) {
    const qreal size = font.pointSizeF();
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(size);
  }
  setFont(font);

  for (const ColourRole role : kRoles) {
    QTextCharFormat format;
    format.setForeground(ToQColor(MonitorColour(role)));
    formats_[static_cast<std::size_t>(role)] = format;
  }
}

void MonitorPane::AppendMonitorText(std::string_view text, ColourRole role) {
  if (text.empty()) return;
  QScrollBar* bar = verticalScrollBar();
  // While a move to the end is due, the view is following even though the bar
  // is not at its end yet; unless the user has moved it since the last text.
  const bool at_bottom =
      follow_due_ ? bar->value() == follow_from_ : bar->value() >= bar->maximum();
  const int scrolled_to = bar->value();
  const int blocks_before = blockCount();

  const QTextCharFormat& format = formats_[static_cast<std::size_t>(role)];
  QTextCursor cursor(document());
  // Inside an edit block a cursor does not lay out its line to learn its x:
  // moving to the end costs nothing then.
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::End);
  int new_lines = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t cr = text.find('\r', start);
    const std::size_t end = cr == std::string_view::npos ? text.size() : cr;
    if (line_open_) {
      cursor.insertBlock(QTextBlockFormat(), format);
      ++new_lines;
      line_open_ = false;
    }
    if (end > start) {
      cursor.insertText(
          QString::fromLatin1(text.data() + start, static_cast<qsizetype>(end - start)), format);
    } else if (empty_) {
      // The first line of an empty pane takes the colour of its first text too.
      cursor.setCharFormat(format);
    }
    empty_ = false;
    if (cr == std::string_view::npos) break;
    line_open_ = true;
    start = cr + 1;
  }
  cursor.endEditBlock();

  if (at_bottom) {
    FollowAtTurnEnd();
  } else {
    follow_due_ = false;
    // Lines dropped from the top would otherwise pull the user's view downwards.
    const int dropped = blocks_before + new_lines - blockCount();
    if (dropped > 0) bar->setValue(scrolled_to - dropped);
  }
}

// Moving the bar scrolls the pane's backing store, a copy of the whole visible
// area; a notification brings many texts, so the view moves to the end once, when
// the event loop takes the queued call, before the new lines are painted.
void MonitorPane::FollowAtTurnEnd() {
  QScrollBar* bar = verticalScrollBar();
  follow_from_ = bar->value();
  if (follow_due_) return;
  follow_due_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!follow_due_) return;
        follow_due_ = false;
        QScrollBar* b = verticalScrollBar();
        if (b->value() == follow_from_) b->setValue(b->maximum());
      },
      Qt::QueuedConnection);
}

void MonitorPane::Clear() {
  clear();
  follow_due_ = false;
  line_open_ = false;
  empty_ = true;
}

int MonitorPane::LineCount() const {
  if (empty_) return 0;
  return blockCount();
}

}  // namespace zevrin
