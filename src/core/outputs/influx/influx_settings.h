#pragma once
// Where the InfluxDB feed writes: the settings, kept as "influx_" keys in the
// feeds settings file, and the address and header they give for a write.
//
//   influx_enabled=1
//   influx_url=http://127.0.0.1:8086/write?db=tarvelo          (InfluxDB 1.x)
//   influx_url=http://host:8086/api/v2/write?org=club&bucket=b (InfluxDB 2.x)
//   influx_user=station         (1.x, optional; or user:password@ in the address)
//   influx_password=secret      (1.x, optional)
//   influx_token=0123abcd       (2.x: the API token; 1.x: "user:password")

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zevrin {

struct InfluxSettings {
  bool enabled = false;
  std::string url;
  std::string user;
  std::string password;
  std::string token;
  bool operator==(const InfluxSettings&) const = default;
};

/// Where and how one write goes.
struct InfluxTarget {
  int version = 1;       ///< 1: /write?db=..., 2: /api/v2/write?org=...&bucket=...
  std::string post_url;  ///< the address posted to, a 1.x user and password in it
  std::string shown;     ///< the address as messages show it, password masked
  std::string token;     ///< 2.x: sent as "Authorization: Token ..."; empty for 1.x
};

/// The target of `settings`, or nullopt with `error` saying what is wrong with the
/// address: not http(s), not a write address of either version, no database, no
/// bucket or organisation, a precision other than nanoseconds, a 2.x address
/// without a token, a control character in a credential.
std::optional<InfluxTarget> InfluxTargetOf(const InfluxSettings& settings, std::string& error);

/// Takes one "key=value" of the feeds file when the key is one of the feed's
/// ("influx_..."); returns false for any other key. A bad value leaves the
/// setting as it was.
bool TakeInfluxSetting(InfluxSettings& settings, std::string_view key, std::string_view value);

/// The feed's lines of the feeds file, each "key=value\n"; a value with a line
/// break is left out (it would break the file).
std::string InfluxSettingsLines(const InfluxSettings& settings);

/// The feeds settings file beside the three-line settings file.
inline constexpr std::string_view kFeedsFileName = "zevrinkiss-feeds.ini";
std::string FeedsPathBeside(const std::string& settings_file);

/// Reads the feed's keys from the feeds file at `path` (other keys are skipped):
/// the defaults (off) when it is missing, nullopt when it cannot be read. Takes at
/// most the first kInfluxFileBytesMax bytes.
inline constexpr std::size_t kInfluxFileBytesMax = 64 * 1024;
std::optional<InfluxSettings> ReadInfluxSettings(const std::string& path);

}  // namespace zevrin
