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
  setMaximumBlockCount(kMonitorLineLimit);
  setLineWrapMode(QPlainTextEdit::NoWrap);

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
  if (pending_.empty() || pending_.back().role != role) pending_.push_back({role, QString()});
  pending_.back().text.append(QLatin1String(text.data(), static_cast<qsizetype>(text.size())));
  if (write_due_) return;
  write_due_ = true;
  QMetaObject::invokeMethod(this, &MonitorPane::WritePending, Qt::QueuedConnection);
}

// Every change of the document costs a layout pass and a look at the scroll
// bar, and moving the bar scrolls the backing store (a copy of the whole visible
// area): the texts of a turn go in as one change, and the view moves once.
void MonitorPane::WritePending() {
  write_due_ = false;
  if (pending_.empty()) return;
  QScrollBar* bar = verticalScrollBar();
  const bool at_bottom = bar->value() >= bar->maximum();
  const int scrolled_to = bar->value();
  const int blocks_before = blockCount();

  QTextCursor cursor(document());
  // Placed at the end by its position: a move to the end would lay out the last
  // line first, and inside an edit block the cursor does not ask for its x.
  cursor.beginEditBlock();
  cursor.setPosition(document()->characterCount() - 1);
  int new_lines = 0;
  for (const Run& run : pending_) new_lines += Insert(cursor, run);
  cursor.endEditBlock();
  pending_.clear();

  if (at_bottom) {
    bar->setValue(bar->maximum());
  } else {
    // Lines dropped from the top would otherwise pull the user's view downwards.
    const int dropped = blocks_before + new_lines - blockCount();
    if (dropped > 0) bar->setValue(scrolled_to - dropped);
  }
}

// Inserts one run at the cursor, each carriage return ending a line; returns the
// lines it began.
int MonitorPane::Insert(QTextCursor& cursor, const Run& run) {
  const QTextCharFormat& format = formats_[static_cast<std::size_t>(run.role)];
  const QString& text = run.text;
  int new_lines = 0;
  qsizetype start = 0;
  while (start < text.size()) {
    const qsizetype cr = text.indexOf(u'\r', start);
    const qsizetype end = cr < 0 ? text.size() : cr;
    if (line_open_) {
      cursor.insertBlock(QTextBlockFormat(), format);
      ++new_lines;
      line_open_ = false;
    }
    if (end > start) {
      cursor.insertText(text.mid(start, end - start), format);
    } else if (empty_) {
      // The first line of an empty pane takes the colour of its first text too.
      cursor.setCharFormat(format);
    }
    empty_ = false;
    if (cr < 0) break;
    line_open_ = true;
    start = cr + 1;
  }
  return new_lines;
}

void MonitorPane::Clear() {
  clear();
  pending_.clear();
  line_open_ = false;
  empty_ = true;
}

int MonitorPane::LineCount() const {
  if (empty_) return 0;
  return blockCount();
}

}  // namespace zevrin
