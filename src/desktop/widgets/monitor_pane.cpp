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
  const bool at_bottom = bar->value() >= bar->maximum();
  const int scrolled_to = bar->value();
  const int blocks_before = blockCount();

  const QTextCharFormat& format = formats_[static_cast<std::size_t>(role)];
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
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
    bar->setValue(bar->maximum());
  } else {
    // Lines dropped from the top would otherwise pull the user's view downwards.
    const int dropped = blocks_before + new_lines - blockCount();
    if (dropped > 0) bar->setValue(scrolled_to - dropped);
  }
}

void MonitorPane::Clear() {
  clear();
  line_open_ = false;
  empty_ = true;
}

int MonitorPane::LineCount() const {
  if (empty_) return 0;
  return blockCount();
}

}  // namespace zevrin
