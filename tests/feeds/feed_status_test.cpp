// The feeds' state on the status bar: one line of every feed that is on, in one
// form, nothing at all while every feed is off, and the details per feed.

#include "views/feed_status.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace zevrin {
namespace {

using ::testing::HasSubstr;

TEST(FeedStatusTest, EveryFeedThatIsOnInOneLine) {
  FeedStates states;
  EXPECT_EQ(FeedStatusLine(states), "");  // the sharing line stays as it was
  EXPECT_EQ(FeedStatusDetails(states), "");

  states.influx.emplace().state = InfluxState::kUnreachable;
  states.influx->queued = 40;
  states.influx->target = "http://db:8086/write?db=x";
  EXPECT_EQ(FeedStatusLine(states), "InfluxDB unreachable, 40 queued");

  states.mqtt.emplace().state = MqttStatus::State::kConnected;
  states.kiss_server.emplace().clients = 2;
  states.kiss_server->dropped = 14;
  states.influx->state = InfluxState::kIdle;
  states.influx->sent = 1200;
  states.influx->queued = 0;
  EXPECT_EQ(FeedStatusLine(states),
            "MQTT connected; KISS 2 client(s), 14 dropped; InfluxDB 1200 sent, 0 queued");
  EXPECT_THAT(FeedStatusDetails(states),
              HasSubstr("\nInfluxDB http://db:8086/write?db=x: 1200 sent, 0 queued, 0 dropped"));
}

// A feed that is turned on but cannot work says "off" on the line and why in the
// details.
TEST(FeedStatusTest, AFeedThatCannotWorkIsOffWithItsReason) {
  FeedStates states;
  states.kiss_server_problem = "cannot serve KISS on 127.0.0.1:8101: Address already in use";
  states.influx_problem = "an InfluxDB 1 address needs ?db=<database>";
  EXPECT_EQ(FeedStatusLine(states), "KISS off; InfluxDB off");
  EXPECT_EQ(FeedStatusDetails(states),
            "cannot serve KISS on 127.0.0.1:8101: Address already in use\n"
            "InfluxDB feed off: an InfluxDB 1 address needs ?db=<database>");
}

}  // namespace
}  // namespace zevrin
