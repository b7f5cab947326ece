#include "outputs/logs/raw_log_settings.h"

#include <filesystem>
#include <optional>

#include "base/file_head.h"
#include "base/settings_text.h"

namespace zevrin {

namespace {

// A settings file is a few lines written by hand; more is not read.
constexpr std::size_t kRawLogSettingsBytesMax = 16 * 1024;

std::optional<bool> ParseSwitch(std::string_view value) {
  for (const std::string_view on : {"1", "true", "yes", "on"}) {
    if (value == on) return true;
  }
  for (const std::string_view off : {"0", "false", "no", "off"}) {
    if (value == off) return false;
  }
  return std::nullopt;
}

}  // namespace

RawLogSettings ReadRawLogSettings(const std::string& path) {
  RawLogSettings settings;
  const std::optional<std::string> text = ReadFileHead(path, kRawLogSettingsBytesMax);
  if (!text) return settings;
  std::string_view rest(*text);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = TrimSettingText(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || line[0] == ';' || equals == std::string_view::npos)
      continue;
    if (TrimSettingText(line.substr(0, equals)) != "kiss_timestamps") continue;
    if (const std::optional<bool> on = ParseSwitch(TrimSettingText(line.substr(equals + 1)))) {
      settings.kiss_timestamps = *on;
    }
  }
  return settings;
}

std::string RawLogSettingsPathBeside(const std::string& settings_file) {
  return (std::filesystem::path(settings_file).parent_path() / kRawLogSettingsFileName).string();
}

}  // namespace zevrin
