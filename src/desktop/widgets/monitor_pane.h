#pragma once
// The frame monitor: a read-only text pane in a fixed-pitch font that takes the
// monitor texts of every frame in their colours.

#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <array>
#include <string_view>

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
  /// line. The view follows the new text only while it is scrolled to the bottom,
  /// by the end of the event loop's turn.
  void AppendMonitorText(std::string_view text, ColourRole role) override;

  /// Empties the pane.
  void Clear();

  /// Lines held, a partly written last line included.
  int LineCount() const;

 private:
  void FollowAtTurnEnd();

  std::array<QTextCharFormat, 5> formats_;
  // True when the last text ended with a carriage return: the next text starts a
  // new line. Breaking lazily keeps no empty line at the bottom of the pane.
  bool line_open_ = false;
  bool empty_ = true;
  // A move to the end is queued; `follow_from_` is where the bar stood after the
  // last text, so a move by the user in between stops the following.
  bool follow_due_ = false;
  int follow_from_ = 0;
};

}  // namespace zevrin
