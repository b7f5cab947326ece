#include "views/archive_history_source.h"

#include "telemetry/display_fields.h"
#include "views/alarm_board.h"

namespace zevrin {

bool ArchiveHistorySource::EnsureOpen() const { return reader_.IsOpen() || reader_.Open(path_); }

std::vector<HistoryValueInfo> ArchiveHistorySource::Values() const {
  std::vector<HistoryValueInfo> values;
  for (int field = 0; field < kDisplayFieldCount; ++field) {
    // Hidden fields hold bytes that merely share a caption with a box.
    if (DisplayFieldTable()[static_cast<std::size_t>(field)].group == FieldGroup::kHidden) continue;
    const ArchiveColumn* column = NumericColumnOfField(field);
    if (column == nullptr) continue;
    values.push_back({field, std::string(ColumnCaption(*column)), std::string(ColumnUnit(*column)),
                      column->kind != ValueKind::kReal});
  }
  return values;
}

void ArchiveHistorySource::ReadSeries(int field, TimeSpan span,
                                      std::vector<HistoryPoint>& out) const {
  const ArchiveColumn* column = NumericColumnOfField(field);
  if (column == nullptr || span.to_ms <= span.from_ms || !EnsureOpen()) return;
  // The reader's span includes its end; ours does not.
  const std::int64_t last = span.to_ms == kEndOfTime ? kEndOfTime : span.to_ms - 1;
  const std::vector<SeriesPoint> points = reader_.Series(*column, span.from_ms, last);
  out.reserve(out.size() + points.size());
  for (const SeriesPoint& p : points) out.push_back({p.ms, p.value});
}

std::optional<HistoryPoint> ArchiveHistorySource::Latest(int field) const {
  const ArchiveColumn* column = NumericColumnOfField(field);
  if (column == nullptr || !EnsureOpen()) return std::nullopt;
  const std::optional<SeriesPoint> last = reader_.Last(*column);
  if (!last) return std::nullopt;
  return HistoryPoint{last->ms, last->value};
}

std::vector<TimeSpan> ArchiveHistorySource::AlarmSpans(int field, TimeSpan span,
                                                       std::int64_t now_ms) const {
  // Far more than a plot can show apart; a flood of alarms still reads quickly.
  constexpr std::size_t kSpansMax = 1000;
  if (NumericColumnOfField(field) == nullptr) return {};
  return AlarmSpansOfField(alarms_.Read(span.from_ms, span.to_ms, kSpansMax), field, now_ms);
}

}  // namespace zevrin
