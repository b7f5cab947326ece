#include "clock/time_sync.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/time_of_day.h"

namespace zevrin {
namespace {

using ::testing::ElementsAre;

// Seconds since 1900 across the signed 32-bit range; dates and times that cannot
// be are no time to set.
TEST(ClockRecordTest, ConvertsAcrossTheSigned32BitRangeAndRejectsImpossibleTimes) {
  const auto leap_day =
      static_cast<std::uint32_t>(FromCivil({2000, 2, 29, 23, 59, 59}) + 2208988800);
  EXPECT_EQ(ClockRecordFromSeconds(0xCDE74DC0), (ClockRecord{2009, 6, 0, 20, 12, 0, 0, 0}));
  EXPECT_EQ(ClockRecordFromSeconds(leap_day), (ClockRecord{2000, 2, 0, 29, 23, 59, 59, 0}));
  EXPECT_EQ(ClockRecordFromSeconds(692657152), (ClockRecord{1921, 12, 0, 13, 20, 45, 52, 0}));
  EXPECT_EQ(ClockRecordFromSeconds(692657151), std::nullopt);
  EXPECT_EQ(ClockRecordFromSeconds(0xFFFFFFFF), (ClockRecord{2036, 2, 0, 7, 6, 28, 15, 0}));
  const std::optional<timespec> ts = ClockRecordToTimespec({2009, 6, 3, 20, 12, 0, 0, 250});
  ASSERT_TRUE(ts.has_value());
  EXPECT_EQ(ts->tv_sec, FromCivil({2009, 6, 20, 12, 0, 0}));
  EXPECT_EQ(ts->tv_nsec, 250000000);
  const ClockRecord impossible[] = {{2009, 13, 0, 1},
                                    {2009, 4, 0, 31},
                                    {2009, 2, 0, 29},
                                    {2009, 6, 0, 20, 24},
                                    {2009, 6, 0, 20, 0, 60},
                                    {2009, 6, 0, 20, 0, 0, 60},
                                    {2009, 6, 0, 20, 0, 0, 0, 1000}};
  for (const ClockRecord& bad : impossible)
    EXPECT_EQ(ClockRecordToTimespec(bad), std::nullopt) << bad.month << "/" << bad.day;
}

// Status bar, socket and clock in one recording fake.
struct Fakes : StatusSink, TimeSocket, ClockSetter {
  void SetStatusText(std::string_view text) override { texts.emplace_back(text); }
  bool IsClosed() const override { return !open; }
  void Close() override { open = false, ++closes; }
  void Connect(std::string_view host, std::uint16_t port) override {
    open = true, connects.push_back(std::string(host) + ":" + std::to_string(port));
  }
  bool SetSystemTime(const ClockRecord& r) override { return records.push_back(r), setter_ok; }

  std::vector<std::string> texts, connects;
  std::vector<ClockRecord> records;
  bool open = false, setter_ok = true;
  int closes = 0;
};

const std::string kClosed = "   sockets closed";
const std::string kInvalid = "Time passed not valid. Clock not synchronised";

// Each reply as it arrives, then the server closes. The clock is set only from four
// bytes that name a time; a fifth byte can never make a valid reply, so the client
// closes at once and takes nothing more; the setter's failure is told.
TEST(TimeSyncTest, RepliesSetTheClockOnlyFromFourValidBytes) {
  const std::vector<std::uint8_t> june20 = {0xCD, 0xE7, 0x4D, 0xC0};
  const struct {
    std::vector<std::vector<std::uint8_t>> arrivals;
    bool setter_ok;
    std::string last_text;
  } cases[] = {
      {{june20}, true, "clock synchronised succesfully with NTP server host"},
      {{{0xCD, 0xE7}, {0x4D, 0xC0}}, false, "SetSystemTime failed. Clock not synchronised"},
      {{}, true, kInvalid},
      {{{0, 0, 0, 0}}, true, kClosed},
      {{june20, {5}}, true, kInvalid},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arrivals.size());
    Fakes f;
    f.setter_ok = c.setter_ok;
    TimeSync sync(f, f, f);
    sync.Begin("host");
    sync.Connected();
    std::size_t total = 0;
    for (const auto& arrival : c.arrivals) {
      ASSERT_EQ(f.closes, 0);  // not before more than four bytes have come
      sync.DataArrived(arrival);
      total += arrival.size();
    }
    EXPECT_EQ(f.closes, total > 4 ? 1 : 0);
    if (total > 4) sync.DataArrived(june20);  // once closed, nothing more counts
    sync.ClosedByServer();
    EXPECT_EQ(f.texts.back(), c.last_text);
    const bool set = c.last_text != kInvalid && c.last_text != kClosed;
    EXPECT_EQ(f.records, std::vector(set ? 1 : 0, ClockRecord{2009, 6, 0, 20, 12, 0, 0, 0}));
    EXPECT_EQ(sync.state(), TimeSync::State::kFinished);
  }
}

// No host means the default server; events that belong to no attempt, or come after
// an error ended it, are ignored; an error's number is told when it has no text.
TEST(TimeSyncTest, DefaultHostErrorsAndStaleEvents) {
  Fakes f;
  TimeSync sync(f, f, f, 3737);
  sync.DataArrived(std::vector<std::uint8_t>{1});  // before any attempt
  sync.Begin("");
  sync.ClosedByServer();  // not connected yet
  sync.Connected();
  sync.DataArrived(std::vector<std::uint8_t>{0xCD});
  sync.Error(-5, "odd");
  sync.DataArrived(std::vector<std::uint8_t>{0xCD, 0xE7, 0x4D, 0xC0});  // after the error
  sync.ClosedByServer();
  EXPECT_THAT(f.connects, ElementsAre("time.nist.gov:3737"));
  EXPECT_THAT(f.texts, ElementsAre("opening connection to TIMESERVER [time.nist.gov]",
                                   "   winsock connection made", "data received: CD  (1 bytes)",
                                   "   error received: odd", "   error received: -5"));
  EXPECT_EQ(f.closes, 0);
  EXPECT_TRUE(f.records.empty());
  EXPECT_EQ(sync.state(), TimeSync::State::kFinished);
}

}  // namespace
}  // namespace zevrin
