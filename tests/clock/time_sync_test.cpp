#include "clock/time_sync.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/time_of_day.h"

namespace zevrin {
namespace {

using ::testing::ElementsAre;

TEST(ClockRecordTest, ConvertsAcrossTheSigned32BitRange) {
  const std::int64_t kUnixTo1900 = 2208988800;
  const auto leap_day =
      static_cast<std::uint32_t>(FromCivil({2000, 2, 29, 23, 59, 59}) + kUnixTo1900);
  EXPECT_EQ(ClockRecordFromSeconds(0xCDE74DC0), (ClockRecord{2009, 6, 0, 20, 12, 0, 0, 0}));
  EXPECT_EQ(ClockRecordFromSeconds(leap_day), (ClockRecord{2000, 2, 0, 29, 23, 59, 59, 0}));
  EXPECT_EQ(ClockRecordFromSeconds(692657152), (ClockRecord{1921, 12, 0, 13, 20, 45, 52, 0}));
  EXPECT_EQ(ClockRecordFromSeconds(692657151), std::nullopt);
  EXPECT_EQ(ClockRecordFromSeconds(0), std::nullopt);
  EXPECT_EQ(ClockRecordFromSeconds(0xFFFFFFFF), (ClockRecord{2036, 2, 0, 7, 6, 28, 15, 0}));
}

TEST(ClockRecordTest, TimespecRejectsImpossibleDatesAndTimes) {
  const std::optional<timespec> ts = ClockRecordToTimespec({2009, 6, 3, 20, 12, 0, 0, 250});
  ASSERT_TRUE(ts.has_value());
  EXPECT_EQ(ts->tv_sec, FromCivil({2009, 6, 20, 12, 0, 0}));
  EXPECT_EQ(ts->tv_nsec, 250000000);
  for (const ClockRecord& bad : {ClockRecord{2009, 13, 0, 1},
                                 {2009, 4, 0, 31},
                                 {2009, 2, 0, 29},
                                 {2009, 6, 0, 20, 24},
                                 {2009, 6, 0, 20, 0, 60},
                                 {2009, 6, 0, 20, 0, 0, 60},
                                 {2009, 6, 0, 20, 0, 0, 0, 1000}}) {
    EXPECT_EQ(ClockRecordToTimespec(bad), std::nullopt) << bad.month << "/" << bad.day;
  }
}

// Status bar, socket and clock in one recording fake.
struct Fakes : StatusSink, TimeSocket, ClockSetter {
  void SetStatusText(std::string_view text) override { texts.emplace_back(text); }
  bool IsClosed() const override { return !open; }
  void Close() override { open = false, ++closes; }
  void Connect(std::string_view host, std::uint16_t port) override {
    open = true, connects.push_back(std::string(host) + ":" + std::to_string(port));
  }
  bool SetSystemTime(const ClockRecord& r) override { return records.push_back(r), true; }

  std::vector<std::string> texts, connects;
  std::vector<ClockRecord> records;
  bool open = false;
  int closes = 0;
};

TEST(TimeSyncTest, DefaultHostNonPositiveErrorsAndStaleEvents) {
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

// A fifth byte can never make a valid reply: the client closes the connection at
// once and ends as a server close with a bad reply would, whatever follows.
TEST(TimeSyncTest, MoreThanFourBytesEndTheAttemptAtOnce) {
  const std::vector<std::vector<std::size_t>> arrivals = {{4, 1}, {5}, {2, 2, 1}, {1u << 20}};
  for (const std::vector<std::size_t>& sizes : arrivals) {
    Fakes f;
    TimeSync sync(f, f, f);
    sync.Begin("host");
    sync.Connected();
    for (const std::size_t n : sizes) {
      ASSERT_EQ(f.closes, 0) << sizes.size();  // not before the fifth byte
      sync.DataArrived(std::vector<std::uint8_t>(n, 0xCD));
    }
    sync.DataArrived(std::vector<std::uint8_t>{1, 2, 3, 4});  // too late to count
    sync.ClosedByServer();
    EXPECT_EQ(f.closes, 1);
    EXPECT_FALSE(f.open);
    EXPECT_EQ(sync.state(), TimeSync::State::kFinished);
    EXPECT_TRUE(f.records.empty());
    ASSERT_GE(f.texts.size(), 5u);
    EXPECT_THAT(std::vector(f.texts.end() - 3, f.texts.end()),
                ElementsAre("   closing connection", "   sockets closed",
                            "Time passed not valid. Clock not synchronised"));
    EXPECT_EQ(f.texts.size(), 2 + sizes.size() + 3);  // one text per arrival before the close
  }
}

}  // namespace
}  // namespace zevrin
