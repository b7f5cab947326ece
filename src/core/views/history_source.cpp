#include "views/history_source.h"

#include <algorithm>

namespace zevrin {

void MemoryHistorySource::ReadSeries(int field, TimeSpan span,
                                     std::vector<HistoryPoint>& out) const {
  const auto it = series_.find(field);
  if (it == series_.end()) return;
  const auto& s = it->second;
  const auto by_time = [](const HistoryPoint& p, std::int64_t t) { return p.utc_ms < t; };
  const auto first = std::lower_bound(s.begin(), s.end(), span.from_ms, by_time);
  const auto last = std::lower_bound(first, s.end(), span.to_ms, by_time);
  out.insert(out.end(), first, last);
}

std::optional<HistoryPoint> MemoryHistorySource::Latest(int field) const {
  const auto it = series_.find(field);
  if (it == series_.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::vector<TimeSpan> MemoryHistorySource::AlarmSpans(int field, TimeSpan span,
                                                      std::int64_t /*now_ms*/) const {
  std::vector<TimeSpan> spans;
  const auto it = alarm_spans_.find(field);
  if (it == alarm_spans_.end()) return spans;
  for (const TimeSpan& s : it->second) {
    if (s.from_ms < span.to_ms && s.to_ms >= span.from_ms) spans.push_back(s);
  }
  return spans;
}

}  // namespace zevrin
