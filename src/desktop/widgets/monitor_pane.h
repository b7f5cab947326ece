#pragma once
// The frame monitor: a read-only text pane in a fixed-pitch font that takes the
// monitor texts of every frame in their colours.

#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTextCursor>
#include <array>
#include <string_view>
#include <vector>

#include "frames/monitor.h"

namespace zevrin {

/// Lines kept in the pane; older lines are dropped from the top (the raw log keeps
/// every frame).
inline constexpr int kMonitorLineLimit = 100000;

class MonitorPane final : public QPlainTextEdit, public MonitorSink {
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

 private:
  // Texts of one colour, in the order they came, not yet shown.
  struct Run {
    ColourRole role;
    QString text;
  };
  int Insert(QTextCursor& cursor, const Run& run);

  std::array<QTextCharFormat, 5> formats_;
  // True when the last text ended with a carriage return: the next text starts a
  // new line. Breaking lazily keeps no empty line at the bottom of the pane.
  bool line_open_ = false;
  bool empty_ = true;
  std::vector<Run> pending_;
  bool write_due_ = false;  // a call of WritePending is queued
};

}  // namespace zevrin
