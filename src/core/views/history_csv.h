#pragma once
// The data a history plot shows, as a table for a spreadsheet.

#include <ostream>
#include <span>
#include <string>

#include "views/history_source.h"

namespace zevrin {

/// One column of the table: the value's description and its points, oldest first.
struct HistoryColumn {
  const HistoryValueInfo* info = nullptr;
  std::span<const HistoryPoint> points;
};

/// Writes a header row ("time_utc" and one column per value, headed like
/// "18 Battery Volts [V]"), then one row per moment at which any value was
/// recorded, oldest first: the time as "YYYY-MM-DD HH:MM:SS.mmm" (UTC) and each
/// value recorded at that moment, or an empty cell. Values recorded more than once
/// at the same moment take a row each. Numbers are written in full precision with a
/// decimal point; captions that hold a comma or a quote are quoted.
void WriteHistoryCsv(std::ostream& out, std::span<const HistoryColumn> columns);

/// The column heading of a value: "18 Battery Volts [V]", without brackets when it
/// has no unit.
std::string HistoryHeading(const HistoryValueInfo& info);

}  // namespace zevrin
