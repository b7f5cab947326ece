// The feeds' settings file: written and read back, bad lines, overlong lines, and
// the keys of feeds this version does not know.

#include "config/feed_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"

namespace zevrin {
namespace {

using ::testing::ElementsAre;

TEST(FeedSettingsTest, WrittenSettingsReadBackTheSameAndStayPrivate) {
  testing::TempDir dir("feeds");
  FeedSettings settings;
  settings.mqtt = {true, "broker.example.org", 8883, "station", "p=ss w#rd", true, "/etc/ca.pem"};
  settings.kiss_server = {true, "[::1]:8102"};
  settings.influx = {true, "http://db:8086/write?db=x", "lab", "pass word", "user:p=w"};
  settings.kept = {{"later_url", "http://db:8086"}, {"later_token", "abc"}};
  const std::string path = FeedSettingsPathBeside(dir.Path("zevrinkiss.ini"));
  EXPECT_EQ(path, dir.Path("zevrinkiss-feeds.ini"));
  ASSERT_EQ(WriteFeedSettings(path, settings), std::nullopt);
  std::vector<std::string> problems;
  EXPECT_EQ(ReadFeedSettings(path, problems), settings);
  EXPECT_TRUE(problems.empty());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600);  // it holds a password

  // A value that would break the file into more lines leaves it as it was.
  for (std::string* value : {&settings.mqtt.password, &settings.influx.token}) {
    const std::string before = *value;
    *value = "two\nlines";
    EXPECT_TRUE(WriteFeedSettings(path, settings).has_value());
    *value = before;
    EXPECT_EQ(ReadFeedSettings(path, problems), settings);
  }
}

// A missing file is every feed off; of a file longer than its limit, the lines
// within it are read and the cut is told.
TEST(FeedSettingsTest, AMissingFileIsEveryFeedOffAndAHugeOneIsCut) {
  std::vector<std::string> problems;
  const std::optional<FeedSettings> read =
      ReadFeedSettings("/nonexistent/zevrinkiss-feeds.ini", problems);
  EXPECT_EQ(read, FeedSettings{});
  testing::TempDir dir("feeds");
  EXPECT_FALSE(ReadFeedSettings(dir.string(), problems));  // a folder cannot be read
  dir.Write("f.ini", "mqtt_host=first\n" + std::string(kFeedSettingsBytesMax, '#'));
  const std::optional<FeedSettings> big = ReadFeedSettings(dir.Path("f.ini"), problems);
  EXPECT_EQ(big.value_or(FeedSettings{}).mqtt.host, "first");
  EXPECT_THAT(problems, ElementsAre(dir.Path("f.ini") + ": only the first 65536 bytes are read"));
}

// Each bad line is told with its number and left out; the others apply.
TEST(FeedSettingsTest, BadLinesAreToldAndTheRestApplies) {
  std::vector<std::string> problems;
  const std::string text =
      "# feeds\r\n"
      "mqtt_enabled = yes\r\n"
      "mqtt_port=70000\n"
      "mqtt_host=broker\n"
      "mqtt_tls=maybe\n"
      "mqtt_hots=typo\n"
      "just words\n"
      "=value\n"
      "kiss_server_enabled=1\n"
      "influx_enabled=1\n"
      "influx_url = http://db:8086/write?db=x \n"
      "influx_enabled=maybe\n"
      "influx_bucket=b\n"
      "mqtt_user=" +
      std::string(2000, 'u') +
      "\n"
      "later_feed_key=kept as is\n";
  const FeedSettings s = ParseFeedSettings(text, "feeds.ini", problems);
  EXPECT_TRUE(s.mqtt.enabled);
  EXPECT_EQ(s.mqtt.host, "broker");
  EXPECT_EQ(s.mqtt.port, kMqttPort);
  EXPECT_FALSE(s.mqtt.tls);
  EXPECT_TRUE(s.mqtt.user.empty());
  EXPECT_TRUE(s.kiss_server.enabled);
  EXPECT_TRUE(s.influx.enabled);  // the bad value after it leaves it as it was
  EXPECT_EQ(s.influx.url, "http://db:8086/write?db=x");
  EXPECT_THAT(s.kept,
              ElementsAre(std::pair<std::string, std::string>("later_feed_key", "kept as is")));
  EXPECT_THAT(problems,
              ElementsAre("feeds.ini line 3: mqtt_port: not a port from 1 to 65535; the line is "
                          "left out",
                          "feeds.ini line 5: mqtt_tls: not 1 or 0; the line is left out",
                          "feeds.ini line 6: unknown key 'mqtt_hots'; the line is left out",
                          "feeds.ini line 7: not key=value; the line is left out",
                          "feeds.ini line 8: unknown key ''; the line is left out",
                          "feeds.ini line 12: influx_enabled: not 1 or 0; the line is left out",
                          "feeds.ini line 13: unknown key 'influx_bucket'; the line is left out",
                          "feeds.ini line 14: longer than 1024 bytes; the line is left out"));
}

}  // namespace
}  // namespace zevrin
