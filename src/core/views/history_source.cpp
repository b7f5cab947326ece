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

}  // namespace zevrin
