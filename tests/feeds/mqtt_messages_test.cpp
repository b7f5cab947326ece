// What goes over MQTT: topics from any station label, a record's JSON, a frame's
// JSON, and the broker addresses of the command line.

#include "outputs/mqtt/mqtt_messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <tuple>

namespace zevrin {
namespace {

TEST(MqttMessagesTest, AnyStationLabelMakesOneTopicLevel) {
  EXPECT_EQ(MqttTopic("DL1ABC", "frames"), "zevrinkiss/DL1ABC/frames");
  EXPECT_EQ(MqttTopicLabel("a/b+c#d"), "a_b_c_d");
  EXPECT_EQ(MqttTopicLabel(std::string("x\0y\n", 4)), "x_y_");
  EXPECT_EQ(MqttTopicLabel(""), "station");
  EXPECT_EQ(MqttTopicLabel("M\xFCnchen"), "M\xC3\xBCnchen");  // Latin-1 to UTF-8
}

TEST(MqttMessagesTest, AFrameIsItsBytesInHexWithItsTime) {
  const std::uint8_t bytes[] = {0xC0, 0x00, 0xDB, 0xDC, 0x7E, 0xC0};
  const DecodedFrame frame{.bytes = bytes,
                           .received_ms = 1765026720123,
                           .station = "GS \"1\"",
                           .link = "tcp:localhost:8001"};
  EXPECT_EQ(nlohmann::json::parse(MqttFrameJson(frame)),
            (nlohmann::json{{"hex", "C000DBDC7EC0"},
                            {"received_ms", 1765026720123},
                            {"received", "2025-12-06 13:12:00.123"},
                            {"station", "GS \"1\""},
                            {"link", "tcp:localhost:8001"}}));
  EXPECT_EQ(MqttRecordJson(frame), "");  // no record
  EXPECT_EQ(MqttRecordLeaf(frame), "");
}

TEST(MqttMessagesTest, BrokerAddresses) {
  std::string error;
  std::optional<MqttSettings> s = ParseMqttUrl("mqtt://broker.example.org", error);
  ASSERT_TRUE(s);
  EXPECT_EQ(MqttBrokerText(*s), "broker.example.org:1883");
  EXPECT_FALSE(s->tls);
  s = ParseMqttUrl("mqtts://user:p@ss:w@[::1]:9883/", error);
  ASSERT_TRUE(s);
  EXPECT_EQ(std::tie(s->tls, s->user, s->password), std::make_tuple(true, "user", "p@ss:w"));
  EXPECT_EQ(MqttBrokerText(*s), "[::1]:9883");  // never the login
  s = ParseMqttUrl("mqtts://station@host", error);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->port, kMqttTlsPort);
  EXPECT_TRUE(s->password.empty());
  for (const char* bad : {"tcp://host", "mqtt://", "mqtt://host:0", "mqtt://host:99999",
                          "mqtt://host:12x", "mqtt://ho st", "mqtt://[::1"}) {
    EXPECT_FALSE(ParseMqttUrl(bad, error)) << bad;
  }
}

}  // namespace
}  // namespace zevrin
