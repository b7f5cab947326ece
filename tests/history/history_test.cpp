// The rules behind the history window: thinning of long series, the shown span
// and its time axis, the exported table, and reading the values back from an
// archive.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <sstream>

#include "archive/archive_support.h"
#include "sample/sample_pass.h"
#include "support/temp_dir.h"
#include "views/archive_history_source.h"
#include "views/decimation.h"
#include "views/history_csv.h"
#include "views/history_view.h"

namespace zevrin {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kBatteryField = 18;

// A random walk with irregular steps of 1 to `max_step` ms, starting at 0.
std::vector<HistoryPoint> Walk(std::size_t n, int max_step) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> step(1, max_step);
  std::normal_distribution<double> change(0, 1);
  std::vector<HistoryPoint> points;
  for (std::int64_t t = 0; points.size() < n; t += step(random))
    points.push_back({t, points.empty() ? 0 : points.back().value + change(random)});
  return points;
}

// For every column of the plot: its lowest and highest value and first and last
// point are drawn, no column gives more than four points, and every drawn point
// is a recorded one, in time order, each once; beyond the span only the nearest
// point on each side. Spans are whole multiples of the column count, so a
// column's bounds are exact.
TEST(Decimation, KeepsEveryColumnsExtremesAndEndsWithinFourPointsPerColumn) {
  const struct {
    std::size_t points;
    int max_step;
    TimeSpan visible;
    int columns;
  } cases[] = {
      {100000, 20, {0, 1000000}, 500},      // many points per column, all visible
      {100000, 20, {250000, 450000}, 400},  // zoomed in: points on both sides
      {300, 2000, {0, 600000}, 1000},       // fewer points than columns
      {5000, 7, {-5000, 20000}, 125},       // the series starts inside the span
  };
  const auto by_value = [](const HistoryPoint& a, const HistoryPoint& b) {
    return a.value < b.value;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.points);
    const std::vector<HistoryPoint> input = Walk(c.points, c.max_step);
    DecimatedSeries out;
    Decimate(input, c.visible, c.columns, kEndOfTime, out);
    EXPECT_THAT(out.segment_starts, ElementsAre(0u));
    // Points by column; the last "column" holds those outside the span.
    const auto columns = [&](const std::vector<HistoryPoint>& points) {
      std::vector<std::vector<HistoryPoint>> by_column(c.columns + 1);
      for (const HistoryPoint& p : points) {
        const bool inside = p.utc_ms >= c.visible.from_ms && p.utc_ms < c.visible.to_ms;
        by_column[inside ? (p.utc_ms - c.visible.from_ms) * c.columns / c.visible.length()
                         : c.columns]
            .push_back(p);
      }
      return by_column;
    };
    const auto all = columns(input), drawn = columns(out.points);
    long previous = -1;  // index in the input of the point drawn before
    for (const HistoryPoint& p : out.points) {
      const auto it = std::ranges::lower_bound(input, p.utc_ms, {}, &HistoryPoint::utc_ms);
      ASSERT_TRUE(it != input.end() && *it == p && it - input.begin() > previous);
      previous = it - input.begin();
    }
    const auto inside = PointsWithin(input, c.visible);
    EXPECT_EQ(drawn.back().size(), (inside.data() > input.data()) + (inside.data() + inside.size() <
                                                                     input.data() + input.size()));
    for (int col = 0; col < c.columns; ++col) {
      ASSERT_EQ(all[col].empty(), drawn[col].empty()) << col;
      if (all[col].empty()) continue;
      EXPECT_LE(drawn[col].size(), static_cast<std::size_t>(kPointsPerColumn)) << col;
      EXPECT_EQ(drawn[col].front(), all[col].front()) << col;
      EXPECT_EQ(drawn[col].back(), all[col].back()) << col;
      EXPECT_EQ(std::ranges::min(drawn[col], by_value), std::ranges::min(all[col], by_value));
      EXPECT_EQ(std::ranges::max(drawn[col], by_value), std::ranges::max(all[col], by_value));
    }
  }
}

TEST(Decimation, EmptyAndSinglePointRangesAndValuesThatAreNoNumber) {
  const std::vector<HistoryPoint> one = {{5000, 3.9}}, two = {{0, 1}, {10000, 2}};
  const struct {
    const char* what;
    std::vector<HistoryPoint> series;
    TimeSpan visible;
    int columns;
    std::vector<HistoryPoint> expected;
  } cases[] = {
      {"no points", {}, {0, 10000}, 100, {}},
      {"empty span", one, {5000, 5000}, 100, {}},
      {"no columns", one, {0, 10000}, 0, {}},
      {"one point inside", one, {0, 10000}, 100, one},
      {"one point left of the span: the line's way in", one, {6000, 9000}, 100, one},
      {"one point right of the span", one, {0, 4000}, 100, one},
      {"span between two points: both, so the line crosses the plot", two, {4000, 6000}, 50, two},
      {"no number left out",
       {{0, 1}, {1000, std::nan("")}, {2000, 2}},
       {0, 3000},
       3,
       {{0, 1}, {2000, 2}}},
  };
  for (const auto& c : cases) {
    DecimatedSeries out;
    out.points = {{1, 1}};  // left from an earlier use
    Decimate(c.series, c.visible, c.columns, kEndOfTime, out);
    EXPECT_EQ(out.points, c.expected) << c.what;
    EXPECT_EQ(out.segment_starts.size(), c.expected.empty() ? 0u : 1u) << c.what;
  }
  // A line joining the points on either side crosses the plot; two not joined show
  // nothing there.
  DecimatedSeries out;
  Decimate(two, {4000, 6000}, 50, kEndOfTime, out);
  EXPECT_EQ(ShownPoints(out, {4000, 6000}).size(), 2u);
  Decimate(two, {4000, 6000}, 50, 5000, out);
  EXPECT_THAT(ShownPoints(out, {4000, 6000}), IsEmpty());
}

// Passes hours apart are not joined by a line; points closer than the gap are,
// even across empty columns. A gap inside one column splits it as well.
TEST(Decimation, GapsWiderThanTheLimitStartNewSegments) {
  std::vector<HistoryPoint> series;
  for (const std::int64_t pass : {0, 5400000, 10800000}) {  // every 90 minutes
    for (std::int64_t t = 0; t < 600000; t += 5000) {       // ten minutes of records
      series.push_back({pass + t, static_cast<double>(t)});
    }
  }
  DecimatedSeries out;
  Decimate(series, {0, 11400000}, 1000, 60000, out);
  ASSERT_EQ(out.segment_starts.size(), 3u);
  EXPECT_EQ(out.points[out.segment_starts[1]].utc_ms, 5400000);
  EXPECT_EQ(out.points[out.segment_starts[2]].utc_ms, 10800000);
  Decimate(series, {0, 11400000}, 1000, 6000000, out);
  EXPECT_THAT(out.segment_starts, ElementsAre(0u));

  const std::vector<HistoryPoint> split = {{0, 1}, {10, 5}, {20, 2}, {900, 3}, {910, 0}};
  Decimate(split, {0, 1000}, 1, 100, out);
  EXPECT_EQ(out.points, split);
  EXPECT_THAT(out.segment_starts, ElementsAre(0u, 3u));
}

TEST(HistoryView, PresetRangesZoomAndPan) {
  const std::int64_t now = 1800000000000, run = now - 3600000;
  const TimeSpan data{now - 10 * kMillisPerDay, now - kMillisPerDay};
  // Each ends 2 % of its length after its last moment.
  const struct {
    HistoryRange range;
    std::optional<TimeSpan> data;
    TimeSpan expected;
  } cases[] = {
      {HistoryRange::kThisRun, data, {run, now + 72001}},
      {HistoryRange::kLast24Hours, data, {now - kMillisPerDay, now + 1728001}},
      {HistoryRange::kAll, data, {data.from_ms, data.to_ms + 15552001}},
      {HistoryRange::kAll, std::nullopt, {now - kMillisPerDay, now + 1728001}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PresetSpan(c.range, run, now, c.data), c.expected) << static_cast<int>(c.range);
  // A run that started a moment ago still shows a few seconds; a run start in
  // the future (the clock was set back) is taken as now.
  for (const std::int64_t start : {now, now + 5000})
    EXPECT_EQ(PresetSpan(HistoryRange::kThisRun, start, now, std::nullopt).length(),
              kShortestSpanMs);
  const TimeSpan span{1000000, 2000000};
  EXPECT_EQ(ZoomSpan(span, 0.5, 0.5), (TimeSpan{1250000, 1750000}));
  EXPECT_EQ(ZoomSpan(span, 0.5, 0.0), (TimeSpan{1000000, 1500000}));
  EXPECT_EQ(ZoomSpan(span, 2, 1.0), (TimeSpan{0, 2000000}));
  EXPECT_EQ(ZoomSpan(span, 1e-9, 0.5).length(), kShortestSpanMs);
  EXPECT_EQ(PanSpan(span, 0.25), (TimeSpan{1250000, 2250000}));
  EXPECT_EQ(PanSpan(span, -1), (TimeSpan{0, 1000000}));
}

// Marks sit on round times, one step apart, never more than asked for, with
// unique labels whose form fits the span.
TEST(HistoryView, TimeTicksAreRoundUniqueAndFitTheSpan) {
  const std::int64_t t0 = FromCivil({2026, 12, 6, 13, 7, 23}) * kMillisPerSecond + 456;
  const struct {
    std::int64_t length;
    int max_ticks;
    std::int64_t step;
    const char* first_label;
  } cases[] = {
      {20 * kMillisPerSecond, 10, 5 * kMillisPerSecond, "13:07:25"},
      {30 * 60 * kMillisPerSecond, 8, 5 * 60 * kMillisPerSecond, "13:10"},
      {20 * 3600 * kMillisPerSecond, 8, 3 * 3600 * kMillisPerSecond, "15:00"},
      {3 * kMillisPerDay, 8, 12 * 3600 * kMillisPerSecond, "12-07 00:00"},
      {40 * kMillisPerDay, 8, 7 * kMillisPerDay, "2026-12-10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first_label);
    const std::vector<TimeTick> ticks = TimeTicks({t0, t0 + c.length}, c.max_ticks);
    ASSERT_FALSE(ticks.empty());
    EXPECT_LE(ticks.size(), static_cast<std::size_t>(c.max_ticks));
    EXPECT_EQ(ticks.front().label, c.first_label);
    EXPECT_EQ(ticks.front().utc_ms % c.step, 0);
    EXPECT_GE(ticks.front().utc_ms, t0);
    EXPECT_LT(ticks.back().utc_ms, t0 + c.length);
    std::set<std::string> labels = {ticks[0].label};
    for (std::size_t i = 1; i < ticks.size(); ++i) {
      EXPECT_EQ(ticks[i].utc_ms - ticks[i - 1].utc_ms, c.step);
      labels.insert(ticks[i].label);
    }
    EXPECT_EQ(labels.size(), ticks.size());
  }
  // A span shorter than any whole second still gets a mark; an empty one none.
  EXPECT_EQ(TimeTicks({t0, t0 + 300}, 5).size(), 1u);
  EXPECT_THAT(TimeTicks({t0, t0}, 5), IsEmpty());
  EXPECT_EQ(UtcText(-1), "1969-12-31 23:59:59.999");
}

// Value axes end on round numbers a little beyond the values; a whole-number value
// gets whole marks, one either side of a constant; nothing drawn gives no axis.
TEST(HistoryView, ValueAxesEndOnRoundNumbersAndWholeValuesOnWholeMarks) {
  const struct {
    double low, high;
    bool whole;
    std::optional<ValueAxisRange> expected;
  } cases[] = {
      {20, 95, false, ValueAxisRange{0, 100, 6}},
      {20, 20, false, ValueAxisRange{19, 21, 5}},
      {0, 0, true, ValueAxisRange{-1, 1, 3}},
      {5, 5, true, ValueAxisRange{4, 6, 3}},
      {0, 1, true, ValueAxisRange{-1, 2, 4}},
      {0, 65535, true, ValueAxisRange{-20000, 80000, 6}},
      {INFINITY, -INFINITY, false, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ValueAxisFor(c.low, c.high, c.whole), c.expected) << c.low << ".." << c.high;
}

// Values of one record share a row; a moment that only one value has leaves the
// other's cell empty; two points at one moment take a row each.
TEST(HistoryCsv, RowsMergeTheValuesByTime) {
  const HistoryValueInfo volts{18, "Battery Volts", "V"};
  const HistoryValueInfo odd{24, "Heater, \"Counter\"", ""};
  const std::vector<HistoryPoint> a = {{1000, 3.9}, {2000, 3.85}, {2000, 3.8}, {4000, -0.5}};
  const std::vector<HistoryPoint> b = {{2000, 7}, {3000, 12345678}};
  const HistoryColumn columns[] = {{&volts, a}, {&odd, b}};
  std::ostringstream out;
  WriteHistoryCsv(out, columns);
  EXPECT_EQ(out.str(),
            "time_utc,18 Battery Volts [V],\"24 Heater, \"\"Counter\"\"\"\r\n"
            "1970-01-01 00:00:01.000,3.9,\r\n"
            "1970-01-01 00:00:02.000,3.85,7\r\n"
            "1970-01-01 00:00:02.000,3.8,\r\n"
            "1970-01-01 00:00:03.000,,12345678\r\n"
            "1970-01-01 00:00:04.000,-0.5,\r\n");
  std::ostringstream none;
  WriteHistoryCsv(none, {});
  EXPECT_EQ(none.str(), "time_utc\r\n");
}

// The values of a pass read back from its archive: the battery voltage of every
// power record as the window showed it, at its reception time. A source made
// before the archive exists fills once the archive is written. Status bits and
// hidden fields are no values to plot.
TEST(ArchiveHistorySource, ReadsTheValuesOfAnArchiveOnceItExists) {
  const testing::TempDir dir("history");
  const std::string path = dir.Path("Lab_archive.sqlite");
  const ArchiveHistorySource source(path);
  std::vector<HistoryPoint> read;
  source.ReadSeries(kBatteryField, {kBeginningOfTime, kEndOfTime}, read);
  EXPECT_THAT(read, IsEmpty());
  EXPECT_FALSE(source.Latest(kBatteryField));
  std::set<int> fields, whole;
  for (const HistoryValueInfo& v : source.Values()) {
    fields.insert(v.caption.empty() ? -1 : v.field);
    if (v.whole) whole.insert(v.field);
  }
  EXPECT_TRUE(fields.contains(kBatteryField) && !fields.contains(69) && !fields.contains(54));
  EXPECT_TRUE(whole.contains(5) && whole.contains(82) && !whole.contains(kBatteryField));
  EXPECT_FALSE(fields.contains(-1)) << "every value has a caption";

  testing::SteppingClock clock(1800000000000, 250);
  testing::SeeingSink seen;
  ArchiveWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(path));
  testing::Receiver(clock, {&writer, &seen}).Receive(sample::MakePass({.frames = 200}));
  writer.Flush();
  std::vector<HistoryPoint> expected;
  for (const testing::SeenFrame& f : seen.frames) {
    const auto it = f.fields.find(kBatteryField);
    if (it != f.fields.end()) expected.push_back({f.ms, std::stod(it->second)});
  }
  ASSERT_GT(expected.size(), 10u);
  source.ReadSeries(kBatteryField, {kBeginningOfTime, kEndOfTime}, read);
  EXPECT_EQ(read, expected);
  EXPECT_EQ(source.Latest(kBatteryField), expected.back());
  // Half-open spans: a point's own moment up to the next one holds that point
  // alone.
  read.clear();
  source.ReadSeries(kBatteryField, {expected[3].utc_ms, expected[4].utc_ms}, read);
  EXPECT_THAT(read, ElementsAre(expected[3]));
}

}  // namespace
}  // namespace zevrin
