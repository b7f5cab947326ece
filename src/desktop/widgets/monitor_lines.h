#pragma once
// The lines of the frame monitor: a ring of at most a given number of lines, each
// with its text and its colour runs, the oldest dropped first. Nothing here costs
// more for a fuller ring.

#include <QString>
#include <QTextLayout>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "frames/monitor.h"

namespace zevrin {

/// A place in the text: a line by its serial number (counted from the first line
/// since the last Clear, so it stays put while older lines are dropped) and a
/// character in it.
struct MonitorPlace {
  std::int64_t line = 0;
  int column = 0;
  friend bool operator==(const MonitorPlace&, const MonitorPlace&) = default;
  friend auto operator<=>(const MonitorPlace&, const MonitorPlace&) = default;
};

struct MonitorLine {
  // From `start` on, the line's text has the colour of `role`.
  struct Run {
    int start;
    ColourRole role;
  };
  QString text;
  std::vector<Run> runs;  // one at least; the first starts at 0
  // Laid out while the line is in view; dropped when it leaves it or changes.
  std::unique_ptr<QTextLayout> layout;
};

class MonitorLines {
 public:
  explicit MonitorLines(int limit) : limit_(limit) {}

  /// Appends `text` in the colour of `role` at the end; each carriage return ends a
  /// line. Breaking lazily keeps no empty line at the end; the first line of an
  /// empty ring takes the colour of its first text even when that is a break.
  void Append(QStringView text, ColourRole role);
  void Clear();

  int Count() const { return static_cast<int>(lines_.size()); }
  const MonitorLine& At(int index) const { return lines_[static_cast<std::size_t>(index)]; }
  MonitorLine& At(int index) { return lines_[static_cast<std::size_t>(index)]; }
  /// The serial number of the line at index 0: the lines dropped since Clear.
  std::int64_t FirstSerial() const { return dropped_; }
  /// The colour of the character at `column` of the line at `index`.
  ColourRole RoleAt(int index, int column) const;

  /// `place` moved into the ring: a dropped line is the start of the first one, a
  /// column past its line's end that end.
  MonitorPlace Clamp(MonitorPlace place) const;
  MonitorPlace End() const;
  /// The text between two places, lines joined by '\n'.
  QString Text(MonitorPlace from, MonitorPlace to) const;

 private:
  void NewLine(ColourRole role);

  int limit_;
  std::deque<MonitorLine> lines_;
  std::int64_t dropped_ = 0;
  // True when the last text ended with a carriage return: the next text starts a
  // new line.
  bool line_open_ = false;
};

}  // namespace zevrin
