#include "views/history_csv.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "base/csv.h"
#include "views/history_view.h"

namespace zevrin {

namespace {

void WriteNumber(std::ostream& out, double value) {
  if (!std::isfinite(value)) return;
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.write(text, result.ptr - text);
}

}  // namespace

std::string HistoryHeading(const HistoryValueInfo& info) {
  std::string heading = std::to_string(info.field) + ' ' + info.caption;
  if (!info.unit.empty()) heading += " [" + info.unit + ']';
  return heading;
}

void WriteHistoryCsv(std::ostream& out, std::span<const HistoryColumn> columns) {
  out << "time_utc";
  for (const HistoryColumn& column : columns) out << ',' << CsvField(HistoryHeading(*column.info));
  out << "\r\n";

  // A merge of the columns by time: each row takes the next point of every column
  // that has one at the row's moment.
  std::vector<std::size_t> next(columns.size(), 0);
  for (;;) {
    std::int64_t moment = kEndOfTime;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (next[c] < columns[c].points.size()) {
        moment = std::min(moment, columns[c].points[next[c]].utc_ms);
      }
    }
    if (moment == kEndOfTime) break;
    out << UtcText(moment);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      out << ',';
      if (next[c] < columns[c].points.size() && columns[c].points[next[c]].utc_ms == moment) {
        WriteNumber(out, columns[c].points[next[c]].value);
        ++next[c];
      }
    }
    out << "\r\n";
  }
}

}  // namespace zevrin
