// What the windows show of the alarms: the list, the indicator, the notification
// texts, and the alarms read back from an archive for the list and the plots.

#include "views/alarm_board.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "alarms/alarm_archive.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using ::testing::ElementsAre;
using ::testing::Field;

constexpr std::int64_t kT0 = 1245506709000;  // 2009-06-20 14:05:09 UTC

const AlarmRules& Rules() {
  static const AlarmRules rules = ParseAlarmRules(
      "battery_volts < 3.3 : warning \"Battery low\"\n"
      "rate(battery_temp_c) > 5 per min : critical\n"
      "no satellite frame for 90 min : watch \"Silent\"\n",
      "test.ini");
  return rules;
}

AlarmEvent Event(AlarmChange change, std::size_t rule, std::int64_t ms, double value = 0) {
  AlarmEvent e;
  e.change = change;
  e.rule_index = rule;
  e.rule = &Rules().rules[rule];
  e.value = value;
  e.has_value = change != AlarmChange::kAcknowledged;
  e.time_ms = ms;
  return e;
}

// Raised alarms come first and are counted until acknowledged; the highest
// severity waiting colours the indicator; a cleared one joins the past, and the
// archive's copy of an alarm already listed is not listed again.
TEST(AlarmBoardTest, ListsRaisedThenPastAndCountsWhatWaits) {
  AlarmBoard board;
  EXPECT_EQ(board.IndicatorText(), "");
  EXPECT_EQ(board.HighestUnacknowledged(), std::nullopt);
  board.AlarmChanged(Event(AlarmChange::kRaised, 0, kT0, 3.21));
  board.AlarmChanged(Event(AlarmChange::kRaised, 1, kT0 + 1000, 7.5));
  board.AlarmChanged(Event(AlarmChange::kRaised, 2, kT0 + 2000, 90));
  EXPECT_EQ(board.IndicatorText(), "3 alarms");
  EXPECT_EQ(board.HighestUnacknowledged(), AlarmSeverity::kCritical);
  board.AlarmChanged(Event(AlarmChange::kAcknowledged, 1, kT0 + 3000));
  board.AlarmChanged(Event(AlarmChange::kCleared, 2, kT0 + 4000, 0));
  EXPECT_EQ(board.IndicatorText(), "1 alarm");
  EXPECT_EQ(board.IndicatorDetails(), "warning: Battery low");
  EXPECT_EQ(board.HighestUnacknowledged(), AlarmSeverity::kWarning);

  AlarmRecord older;
  older.message = "Old one";
  older.raised_ms = kT0 - 60000;
  older.cleared_ms = kT0 - 30000;
  AlarmRecord same_as_raised;
  same_as_raised.rule = Rules().rules[0].text;
  same_as_raised.raised_ms = kT0;
  board.SetArchived({same_as_raised, older});
  const std::vector<AlarmListRow> rows = board.Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].rule, 1u);
  EXPECT_FALSE(rows[0].acknowledgeable);
  EXPECT_EQ(rows[0].texts[5], "2009-06-20 14:05:12");
  EXPECT_EQ(rows[1].rule, 0u);
  EXPECT_TRUE(rows[1].acknowledgeable);
  EXPECT_THAT(rows[1].texts,
              ElementsAre("Battery low", "warning", "3.21", "2009-06-20 14:05:09", "", ""));
  EXPECT_EQ(rows[2].rule, std::nullopt);
  EXPECT_EQ(rows[2].texts[0], "Silent");
  EXPECT_EQ(rows[2].texts[4], "2009-06-20 14:05:13");
  EXPECT_EQ(rows[3].texts[0], "Old one");
  EXPECT_FALSE(rows[3].acknowledgeable);
}

TEST(AlarmBoardTest, NotifiesOnlyARaiseWithTheUrgencyOfItsSeverity) {
  const auto warning = AlarmNotificationOf(Event(AlarmChange::kRaised, 0, kT0, 3.21));
  ASSERT_TRUE(warning);
  EXPECT_EQ(warning->summary, "Warning: Battery low");
  EXPECT_EQ(warning->body,
            "battery_volts = 3.21, 2009-06-20 14:05:09 UTC\nbattery_volts < 3.3 : warning "
            "\"Battery low\"");
  EXPECT_EQ(warning->urgency, 1);
  EXPECT_EQ(AlarmNotificationOf(Event(AlarmChange::kRaised, 1, kT0, 6))->urgency, 2);
  EXPECT_EQ(AlarmNotificationOf(Event(AlarmChange::kRaised, 2, kT0, 90))->urgency, 0);
  EXPECT_FALSE(AlarmNotificationOf(Event(AlarmChange::kCleared, 0, kT0, 3.4)));
  EXPECT_FALSE(AlarmNotificationOf(Event(AlarmChange::kAcknowledged, 0, kT0)));
}

// The alarms kept by the archive come back with every time, and give the spans
// the history window shades on the value each concerns; an archive without an
// alarm yet, or without a file yet, gives none.
TEST(AlarmRecordsTest, ReadsBackWhatTheArchiveKeptAndItsSpans) {
  testing::TempDir dir("alarm-records");
  const std::string path = (dir / "a.sqlite").string();
  AlarmRecordReader early(path);
  EXPECT_TRUE(early.Read(kBeginningOfTime, kEndOfTime, 10).empty());
  {
    ArchiveThread archive(nullptr, {});
    ASSERT_TRUE(archive.Open(path));
    archive.Drain();
    AlarmRecordReader none_yet(path);
    EXPECT_TRUE(none_yet.Read(kBeginningOfTime, kEndOfTime, 10).empty());
    AlarmArchive kept(archive);
    kept.AlarmChanged(Event(AlarmChange::kRaised, 0, kT0, 3.2));
    kept.AlarmChanged(Event(AlarmChange::kAcknowledged, 0, kT0 + 500));
    kept.AlarmChanged(Event(AlarmChange::kCleared, 0, kT0 + 1000, 3.4));
    kept.AlarmChanged(Event(AlarmChange::kRaised, 1, kT0 + 2000, 9));
    kept.AlarmChanged(Event(AlarmChange::kRaised, 2, kT0 + 3000, 90));
    archive.Close();
  }
  const std::vector<AlarmRecord> all = early.Read(kBeginningOfTime, kEndOfTime, 10);
  EXPECT_THAT(all, ElementsAre(Field(&AlarmRecord::value_name, ""),
                               Field(&AlarmRecord::value_name, "battery_temp_c"),
                               Field(&AlarmRecord::value_name, "battery_volts")));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2].message, "Battery low");
  EXPECT_EQ(all[2].value, 3.2);
  EXPECT_EQ(all[2].acknowledged_ms, kT0 + 500);
  EXPECT_EQ(all[2].cleared_ms, kT0 + 1000);
  EXPECT_EQ(all[1].cleared_ms, std::nullopt);
  EXPECT_EQ(early.Read(kT0 + 1500, kEndOfTime, 10).size(), 2u);  // the first ended before
  EXPECT_EQ(early.Read(kBeginningOfTime, kEndOfTime, 1).size(), 1u);

  constexpr int kBatteryVolts = 18;
  const auto columns = ArchiveColumns();
  const auto temp = std::find_if(columns.begin(), columns.end(),
                                 [](const ArchiveColumn& c) { return c.name == "battery_temp_c"; });
  ASSERT_NE(temp, columns.end());
  EXPECT_THAT(AlarmSpansOfField(all, kBatteryVolts, kT0 + 9000),
              ElementsAre(TimeSpan{kT0, kT0 + 1000}));
  EXPECT_THAT(AlarmSpansOfField(all, temp->field(), kT0 + 9000),
              ElementsAre(TimeSpan{kT0 + 2000, kT0 + 9000}));  // still raised: until now
}

}  // namespace
}  // namespace zevrin
