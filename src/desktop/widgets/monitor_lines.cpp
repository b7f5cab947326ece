#include "widgets/monitor_lines.h"

#include <algorithm>

namespace zevrin {

void MonitorLines::Append(QStringView text, ColourRole role) {
  qsizetype start = 0;
  while (start < text.size()) {
    const qsizetype cr = text.indexOf(u'\r', start);
    const qsizetype end = cr < 0 ? text.size() : cr;
    if (lines_.empty() || line_open_) {
      NewLine(role);
      line_open_ = false;
    }
    if (end > start) {
      MonitorLine& line = lines_.back();
      const int at = static_cast<int>(line.text.size());
      if (line.runs.back().start == at) {
        line.runs.back().role = role;  // a run not begun yet takes the new colour
      } else if (line.runs.back().role != role) {
        line.runs.push_back({at, role});
      }
      line.text.append(text.mid(start, end - start));
      line.layout.reset();
    }
    if (cr < 0) break;
    line_open_ = true;
    start = cr + 1;
  }
}

void MonitorLines::NewLine(ColourRole role) {
  if (Count() >= limit_) {
    lines_.pop_front();
    ++dropped_;
  }
  MonitorLine& line = lines_.emplace_back();
  line.runs.push_back({0, role});
}

void MonitorLines::Clear() {
  lines_.clear();
  dropped_ = 0;
  line_open_ = false;
}

ColourRole MonitorLines::RoleAt(int index, int column) const {
  const std::vector<MonitorLine::Run>& runs = At(index).runs;
  const auto after =
      std::upper_bound(runs.begin() + 1, runs.end(), column,
                       [](int c, const MonitorLine::Run& run) { return c < run.start; });
  return std::prev(after)->role;
}

MonitorPlace MonitorLines::End() const {
  if (lines_.empty()) return {};
  return {dropped_ + Count() - 1, static_cast<int>(lines_.back().text.size())};
}

MonitorPlace MonitorLines::Clamp(MonitorPlace place) const {
  if (lines_.empty()) return {};
  if (place.line < dropped_) return {dropped_, 0};
  if (place.line >= dropped_ + Count()) return End();
  const auto length = static_cast<int>(At(static_cast<int>(place.line - dropped_)).text.size());
  return {place.line, std::clamp(place.column, 0, length)};
}

QString MonitorLines::Text(MonitorPlace from, MonitorPlace to) const {
  from = Clamp(from);
  to = Clamp(to);
  QString text;
  for (std::int64_t serial = from.line; serial <= to.line && !lines_.empty(); ++serial) {
    const QString& line = At(static_cast<int>(serial - dropped_)).text;
    const int begin = serial == from.line ? from.column : 0;
    const int end = serial == to.line ? to.column : static_cast<int>(line.size());
    if (serial != from.line) text.append(u'\n');
    text.append(QStringView(line).mid(begin, std::max(0, end - begin)));
  }
  return text;
}

}  // namespace zevrin
