#pragma once
// The frame monitor: a read-only text pane in a fixed-pitch font that takes the
// monitor texts of every frame in their colours. It keeps its lines in a ring and
// lays out and paints only the lines in view, so a frame costs the same however
// many lines it holds. It draws as a QPlainTextEdit without wrapping would: lines
// laid out by QTextLayout, leading included, at a margin of 4 pixels.

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QTextCharFormat>
#include <QTextOption>
#include <array>
#include <string_view>
#include <vector>

#include "frames/monitor.h"
#include "widgets/monitor_lines.h"

namespace zevrin {

/// Lines kept in the pane; older lines are dropped from the top (the raw log keeps
/// every frame).
inline constexpr int kMonitorLineLimit = 100000;

class MonitorPane final : public QAbstractScrollArea, public MonitorSink {
  Q_OBJECT

 public:
  explicit MonitorPane(QWidget* parent = nullptr);

  /// Appends `text` in the colour of `role`. Texts always go to the end of the
  /// pane, wherever the user has clicked or selected; each carriage return ends a
  /// line. The texts of one turn of the event loop are shown together when it
  /// ends; the view follows them only while it is scrolled to the bottom.
  void AppendMonitorText(std::string_view text, ColourRole role) override;

  /// Shows the texts appended since, now rather than when the turn ends.
  void WritePending();

  /// Empties the pane.
  void Clear();

  /// Lines held, a partly written last line included.
  int LineCount() const;
  /// The text shown, lines joined by '\n'.
  QString PlainText() const;
  /// The colour of the character at `column` of line `line` (0 is the oldest held).
  QColor ColourAt(int line, int column) const;
  /// The text the user has selected, lines joined by '\n'.
  QString SelectedText() const;

  void SelectAll();
  /// Puts the selected text on the clipboard.
  void Copy();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void timerEvent(QTimerEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  enum class Move {
    kLeft,
    kRight,
    kUp,
    kDown,
    kLineStart,
    kLineEnd,
    kTop,
    kBottom,
    kPageUp,
    kPageDown
  };

  // Texts of one colour, in the order they came, not yet shown.
  struct Run {
    ColourRole role;
    QString text;
  };

  // Line metrics of the font, and the widths of lines from serial `from` on.
  void Measure();
  void MeasureFrom(std::int64_t from);
  qreal NaturalWidth(const QString& text) const;
  void UpdateScrollBars();
  // The layout of the line at `index`, made and kept while the line is in view.
  QTextLayout& LayoutOf(int index);
  void ForgetLayoutsOutside(int first, int end);
  void DrawLine(QPainter& painter, int index, QPointF at, const QRect& area);
  // Where the text starts: below the top margin when scrolled to the top.
  qreal TopOffset() const;

  bool HasSelection() const;
  MonitorPlace PlaceAt(QPointF point);
  void MoveCursor(Move move, bool select);
  void EnsureVisible(MonitorPlace place);
  void SelectWordAt(MonitorPlace place);
  void RestartBlink();

  MonitorLines lines_{kMonitorLineLimit};
  std::vector<std::int64_t> laid_out_;  // serials of lines with a layout
  std::array<QTextCharFormat, 5> formats_;
  QTextOption text_option_;
  qreal line_height_ = 1;
  qreal char_width_ = 0;
  std::array<qreal, 0x7f - 0x20> overhang_{};  // of each printable ASCII character
  qreal widest_ = 0;  // the widest line's natural width since the last Clear

  // The selection runs from the anchor to the cursor.
  MonitorPlace anchor_;
  MonitorPlace cursor_;
  bool selecting_ = false;  // the left button drags a selection
  bool cursor_shown_ = false;
  QBasicTimer blink_;

  std::vector<Run> pending_;
  bool write_due_ = false;  // a call of WritePending is queued
};

}  // namespace zevrin
