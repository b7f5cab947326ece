#include "views/decimation.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zevrin {

namespace {

const HistoryPoint* FirstAtOrAfter(std::span<const HistoryPoint> series, std::int64_t t) {
  return std::lower_bound(series.data(), series.data() + series.size(), t,
                          [](const HistoryPoint& p, std::int64_t v) { return p.utc_ms < v; });
}

// Collects one group (points in one column, not split by a gap) and writes its
// first, minimum, maximum and last point.
class GroupWriter {
 public:
  GroupWriter(std::int64_t gap_ms, DecimatedSeries& out) : gap_ms_(gap_ms), out_(out) {}

  void Add(const HistoryPoint* p, std::int64_t column) {
    if (first_ != nullptr && (column != column_ || p->utc_ms - last_->utc_ms > gap_ms_)) Flush(p);
    if (first_ == nullptr) {
      first_ = min_ = max_ = p;
      column_ = column;
    }
    if (p->value < min_->value) min_ = p;
    if (p->value > max_->value) max_ = p;
    last_ = p;
  }

  void Finish() { Flush(nullptr); }

 private:
  void Flush(const HistoryPoint* next) {
    if (first_ == nullptr) return;
    if (out_.points.empty() || starts_segment_) out_.segment_starts.push_back(out_.points.size());
    std::array<const HistoryPoint*, kPointsPerColumn> picks = {first_, min_, max_, last_};
    std::sort(picks.begin(), picks.end());  // pointers into one array: time order
    const HistoryPoint* previous = nullptr;
    for (const HistoryPoint* p : picks) {
      if (p != previous) out_.points.push_back(*p);
      previous = p;
    }
    starts_segment_ = next != nullptr && next->utc_ms - last_->utc_ms > gap_ms_;
    first_ = min_ = max_ = last_ = nullptr;
  }

  std::int64_t gap_ms_;
  DecimatedSeries& out_;
  const HistoryPoint* first_ = nullptr;
  const HistoryPoint* min_ = nullptr;
  const HistoryPoint* max_ = nullptr;
  const HistoryPoint* last_ = nullptr;
  std::int64_t column_ = 0;
  bool starts_segment_ = false;
};

}  // namespace

std::span<const HistoryPoint> PointsWithin(std::span<const HistoryPoint> series, TimeSpan visible) {
  const HistoryPoint* first = FirstAtOrAfter(series, visible.from_ms);
  const HistoryPoint* last = FirstAtOrAfter(
      series.subspan(static_cast<std::size_t>(first - series.data())), visible.to_ms);
  return {first, last};
}

std::span<const HistoryPoint> ShownPoints(const DecimatedSeries& drawn, TimeSpan visible) {
  const std::span<const HistoryPoint> inside = PointsWithin(drawn.points, visible);
  // Without a point inside, at most the nearest one on each side was kept.
  const bool crossing = drawn.points.size() == 2 && drawn.segment_starts.size() == 1;
  return inside.empty() && crossing ? std::span<const HistoryPoint>(drawn.points) : inside;
}

void Decimate(std::span<const HistoryPoint> series, TimeSpan visible, int columns,
              std::int64_t gap_ms, DecimatedSeries& out) {
  out.clear();
  if (columns < 1 || visible.length() <= 0 || series.empty()) return;
  const HistoryPoint* begin = series.data();
  const HistoryPoint* end = begin + series.size();
  const std::span<const HistoryPoint> inside = PointsWithin(series, visible);
  // One point beyond each edge, so the line leaves the plot instead of stopping short.
  const HistoryPoint* first = inside.data() > begin ? inside.data() - 1 : inside.data();
  const HistoryPoint* last = inside.data() + inside.size();
  if (last < end) ++last;

  const double per_column = static_cast<double>(visible.length()) / columns;
  GroupWriter writer(gap_ms, out);
  for (const HistoryPoint* p = first; p != last; ++p) {
    if (std::isnan(p->value)) continue;
    // Points outside the span form columns of their own, before and after.
    std::int64_t column = -1;
    if (p->utc_ms >= visible.to_ms) {
      column = columns;
    } else if (p->utc_ms >= visible.from_ms) {
      column = std::min<std::int64_t>(
          columns - 1, static_cast<std::int64_t>((p->utc_ms - visible.from_ms) / per_column));
    }
    writer.Add(p, column);
  }
  writer.Finish();
}

}  // namespace zevrin
