#include "config/feed_settings.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "base/file_head.h"
#include "base/private_file.h"
#include "base/settings_text.h"

namespace zevrin {

namespace {

enum class KeyKind { kSwitch, kText, kPort };

// One key of the file and the setting it holds.
struct FeedKey {
  std::string_view name;
  KeyKind kind;
  void* (*field)(FeedSettings&);
};

// Every key, in the order they are written. A feed adds its keys here, under a
// prefix of its own in kFeedPrefixes.
constexpr FeedKey kFeedKeys[] = {
    {"mqtt_enabled", KeyKind::kSwitch, [](FeedSettings& s) -> void* { return &s.mqtt.enabled; }},
    {"mqtt_host", KeyKind::kText, [](FeedSettings& s) -> void* { return &s.mqtt.host; }},
    {"mqtt_port", KeyKind::kPort, [](FeedSettings& s) -> void* { return &s.mqtt.port; }},
    {"mqtt_user", KeyKind::kText, [](FeedSettings& s) -> void* { return &s.mqtt.user; }},
    {"mqtt_password", KeyKind::kText, [](FeedSettings& s) -> void* { return &s.mqtt.password; }},
    {"mqtt_tls", KeyKind::kSwitch, [](FeedSettings& s) -> void* { return &s.mqtt.tls; }},
    {"mqtt_ca_file", KeyKind::kText, [](FeedSettings& s) -> void* { return &s.mqtt.ca_file; }},
    {"kiss_server_enabled", KeyKind::kSwitch,
     [](FeedSettings& s) -> void* { return &s.kiss_server.enabled; }},
    {"kiss_server_address", KeyKind::kText,
     [](FeedSettings& s) -> void* { return &s.kiss_server.address; }},
    {"influx_enabled", KeyKind::kSwitch,
     [](FeedSettings& s) -> void* { return &s.influx.enabled; }},
    {"influx_url", KeyKind::kText, [](FeedSettings& s) -> void* { return &s.influx.url; }},
    {"influx_user", KeyKind::kText, [](FeedSettings& s) -> void* { return &s.influx.user; }},
    {"influx_password", KeyKind::kText,
     [](FeedSettings& s) -> void* { return &s.influx.password; }},
    {"influx_token", KeyKind::kText, [](FeedSettings& s) -> void* { return &s.influx.token; }},
};

// A key under one of these that is not in the table is a mistake, not a key of a
// later version.
constexpr std::string_view kFeedPrefixes[] = {"mqtt_", "kiss_server_", "influx_"};

const FeedKey* FindKey(std::string_view name) {
  for (const FeedKey& key : kFeedKeys) {
    if (key.name == name) return &key;
  }
  return nullptr;
}

// Why `value` cannot be the setting of `key`, or nullopt when it has been taken.
std::optional<std::string> TakeValue(const FeedKey& key, std::string_view value,
                                     FeedSettings& settings) {
  void* field = key.field(settings);
  switch (key.kind) {
    case KeyKind::kSwitch:
      if (value == "1" || value == "yes" || value == "true" || value == "on") {
        *static_cast<bool*>(field) = true;
      } else if (value == "0" || value == "no" || value == "false" || value == "off" ||
                 value.empty()) {
        *static_cast<bool*>(field) = false;
      } else {
        return "not 1 or 0";
      }
      return std::nullopt;
    case KeyKind::kText:
      *static_cast<std::string*>(field) = value;
      return std::nullopt;
    case KeyKind::kPort: {
      unsigned port = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (ec != std::errc() || end != value.data() + value.size() || port == 0 || port > 65535)
        return "not a port from 1 to 65535";
      *static_cast<std::uint16_t*>(field) = static_cast<std::uint16_t>(port);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::string ValueText(const FeedKey& key, const FeedSettings& settings) {
  void* field = key.field(const_cast<FeedSettings&>(settings));
  switch (key.kind) {
    case KeyKind::kSwitch:
      return *static_cast<bool*>(field) ? "1" : "0";
    case KeyKind::kText:
      return *static_cast<std::string*>(field);
    case KeyKind::kPort:
      return std::to_string(*static_cast<std::uint16_t*>(field));
  }
  return {};
}

// Why the line cannot be taken, or nullopt when it has been.
std::optional<std::string> TakeLine(std::string_view line, FeedSettings& settings) {
  if (line.size() > kFeedSettingsLineMax)
    return "longer than " + std::to_string(kFeedSettingsLineMax) + " bytes";
  const std::string_view text = TrimSettingText(line);
  if (text.empty() || text.front() == '#') return std::nullopt;
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return "not key=value";
  const std::string_view name = TrimSettingText(text.substr(0, eq));
  const std::string_view value = TrimSettingText(text.substr(eq + 1));
  if (const FeedKey* key = FindKey(name)) {
    std::optional<std::string> why = TakeValue(*key, value, settings);
    if (why) return std::string(name) + ": " + *why;
    return std::nullopt;
  }
  const bool own = std::any_of(std::begin(kFeedPrefixes), std::end(kFeedPrefixes),
                               [&](std::string_view prefix) { return name.starts_with(prefix); });
  if (own || name.empty()) return "unknown key '" + std::string(name) + "'";
  settings.kept.emplace_back(name, value);
  return std::nullopt;
}

}  // namespace

FeedSettings ParseFeedSettings(std::string_view text, std::string_view name,
                               std::vector<std::string>& problems) {
  FeedSettings settings;
  std::string_view rest = text;
  for (std::size_t number = 1; !rest.empty(); ++number) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    if (std::optional<std::string> why = TakeLine(rest.substr(0, end), settings)) {
      problems.push_back(std::string(name) + " line " + std::to_string(number) + ": " + *why +
                         "; the line is left out");
    }
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return settings;
}

std::optional<FeedSettings> ReadFeedSettings(const std::string& path,
                                             std::vector<std::string>& problems) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return FeedSettings{};
  const std::optional<SettingsFileHead> file = ReadSettingsFileHead(path, kFeedSettingsBytesMax);
  if (!file) return std::nullopt;
  if (file->cut)
    problems.push_back(path + ": only the first " + std::to_string(kFeedSettingsBytesMax) +
                       " bytes are read");
  return ParseFeedSettings(file->text, path, problems);
}

std::optional<std::string> FeedSettingsText(const FeedSettings& settings) {
  std::string text;
  for (const FeedKey& key : kFeedKeys) {
    const std::string value = ValueText(key, settings);
    if (HasLineBreak(value)) return std::nullopt;
    text.append(key.name).append("=").append(value).append("\n");
  }
  for (const auto& [name, value] : settings.kept) {
    if (HasLineBreak(name) || HasLineBreak(value)) return std::nullopt;
    text.append(name).append("=").append(value).append("\n");
  }
  return text;
}

std::optional<std::string> WriteFeedSettings(const std::string& path,
                                             const FeedSettings& settings) {
  const std::optional<std::string> text = FeedSettingsText(settings);
  if (!text) return "a value holds a line break";
  return WritePrivateFile(path, *text);
}

std::string FeedSettingsPathBeside(const std::string& settings_file) {
  return (std::filesystem::path(settings_file).parent_path() / kFeedSettingsFileName).string();
}

}  // namespace zevrin
