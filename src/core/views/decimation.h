#pragma once
// Thinning a long series to what a plot of a given width can show: per pixel
// column the first, lowest, highest and last point, so that every peak stays
// visible and the line still joins its neighbours. Drawing a million points
// thus costs as much as drawing a few thousand.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "views/history_source.h"

namespace zevrin {

/// The points to draw, as runs of connected points: segment_starts holds the index
/// in `points` where each run begins (the first is 0 when there are points).
struct DecimatedSeries {
  std::vector<HistoryPoint> points;
  std::vector<std::size_t> segment_starts;
  void clear() {
    points.clear();
    segment_starts.clear();
  }
};

/// At most this many points come out of one pixel column.
inline constexpr int kPointsPerColumn = 4;

/// Thins `series` (oldest first) for a plot of `columns` pixel columns showing
/// `visible`. The points inside the span are grouped by column; each group gives
/// its first, minimum, maximum and last point, in time order and each once. The
/// nearest point on either side of the span is kept too, so the line runs to the
/// plot's edges. Two points further apart than `gap_ms` are not joined: the second
/// starts a new segment. Points whose value is not a number are left out. With
/// fewer than one column or an empty span, nothing comes out.
void Decimate(std::span<const HistoryPoint> series, TimeSpan visible, int columns,
              std::int64_t gap_ms, DecimatedSeries& out);

/// The points of `series` (oldest first) inside `visible`, as a view into it.
std::span<const HistoryPoint> PointsWithin(std::span<const HistoryPoint> series, TimeSpan visible);

/// The points of `drawn` (thinned for `visible`) whose line shows on the plot:
/// those inside the span, or, with none inside, the two beyond its edges when a
/// line joins them across it. Empty when no line shows.
std::span<const HistoryPoint> ShownPoints(const DecimatedSeries& drawn, TimeSpan visible);

}  // namespace zevrin
