#pragma once
// The network feeds of the desktop program: a file of their own,
// "zevrinkiss-feeds.ini", beside the sharing settings, one "key=value" per line.
// Each feed's keys begin with its own prefix:
//
//   influx_enabled=1
//   influx_url=http://127.0.0.1:8086/write?db=tarvelo          (InfluxDB 1.x)
//   influx_url=http://host:8086/api/v2/write?org=club&bucket=b (InfluxDB 2.x)
//   influx_user=station      (1.x, optional; or user:password@ in the address)
//   influx_password=secret   (1.x, optional)
//   influx_token=0123abcd    (2.x: the API token; 1.x: "user:password")
//   mqtt_enabled=1
//   mqtt_host=broker.example.org
//   mqtt_port=8883
//   mqtt_user=station
//   mqtt_password=secret
//   mqtt_tls=1
//   mqtt_ca_file=            (empty: the system's certificate authorities)
//   kiss_server_enabled=1
//   kiss_server_address=127.0.0.1:8101
//
// Keys of other prefixes are kept as they are and written back, so a file that a
// later version of the program wrote loses nothing here. The reader takes at most
// kFeedSettingsBytesMax bytes and lines of at most kFeedSettingsLineMax bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zevrin {

inline constexpr std::string_view kFeedSettingsFileName = "zevrinkiss-feeds.ini";
inline constexpr std::size_t kFeedSettingsBytesMax = 64 * 1024;
inline constexpr std::size_t kFeedSettingsLineMax = 1024;

inline constexpr std::uint16_t kMqttPort = 1883;
inline constexpr std::uint16_t kMqttTlsPort = 8883;
/// Beside the ports software TNCs serve KISS on (8001, 8100), so that a station
/// and its TNC on one machine never want the same one.
inline constexpr std::string_view kKissServerDefaultAddress = "127.0.0.1:8101";

struct MqttSettings {
  bool enabled = false;
  std::string host;
  std::uint16_t port = kMqttPort;
  std::string user;      ///< empty: no login
  std::string password;  ///< with a user only
  bool tls = false;
  std::string ca_file;  ///< with TLS: the authority to trust; empty: the system's
  bool operator==(const MqttSettings&) const = default;
};

struct KissServerSettings {
  bool enabled = false;
  std::string address{kKissServerDefaultAddress};  ///< "[HOST:]PORT"
  bool operator==(const KissServerSettings&) const = default;
};

/// Where the InfluxDB feed writes the housekeeping records.
struct InfluxSettings {
  bool enabled = false;
  std::string url;       ///< the write address of InfluxDB 1.x or 2.x
  std::string user;      ///< 1.x; empty: none, or the one in the address
  std::string password;  ///< 1.x, with a user
  std::string token;     ///< 2.x: the API token; 1.x: "user:password"
  bool operator==(const InfluxSettings&) const = default;
};

struct FeedSettings {
  MqttSettings mqtt;
  KissServerSettings kiss_server;
  InfluxSettings influx;
  /// Lines of keys this version does not know, in file order.
  std::vector<std::pair<std::string, std::string>> kept;
  bool operator==(const FeedSettings&) const = default;
};

/// Reads the file at `path`. A missing file gives the defaults (every feed off);
/// nullopt when it cannot be read. A line that cannot be taken is left out and
/// told in `problems` ("zevrinkiss-feeds.ini line 4: mqtt_port: not a port from 1
/// to 65535"); the other lines still apply.
std::optional<FeedSettings> ReadFeedSettings(const std::string& path,
                                             std::vector<std::string>& problems);

/// Reads the settings from `text`, as from the file `name`.
FeedSettings ParseFeedSettings(std::string_view text, std::string_view name,
                               std::vector<std::string>& problems);

/// The file's text for `settings`; nullopt when a value holds a line break.
std::optional<std::string> FeedSettingsText(const FeedSettings& settings);

/// Writes the settings anew, readable by their owner only (the file may hold a
/// password). Returns the reason of a failure, or nullopt.
std::optional<std::string> WriteFeedSettings(const std::string& path, const FeedSettings& settings);

/// The feeds file that lies beside the three-line settings file at `settings_file`.
std::string FeedSettingsPathBeside(const std::string& settings_file);

}  // namespace zevrin
