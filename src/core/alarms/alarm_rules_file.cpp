// Reading the rules file within its limits, and the rules that apply without one.

#include <algorithm>
#include <filesystem>

#include "alarms/alarm_rules.h"
#include "base/file_head.h"

namespace zevrin {

// The battery is judged against the thresholds the satellite itself reports, so
// the rules follow it when its thresholds are changed from the ground. A clear
// 0.05 V above the threshold keeps a battery that hovers at it from raising and
// clearing with every record. A reset shows as its counter growing. Most
// stations hear the satellite several times a day; a whole day without a frame
// while the station listens means trouble on board or at the station.
const std::string_view kDefaultAlarmRules =
    "battery_volts < powersafe_threshold_volts for 3 records"
    " clear >= powersafe_threshold_volts + 0.05 : warning \"Battery below powersafe\"\n"
    "battery_volts < emergency_threshold_volts"
    " clear >= emergency_threshold_volts + 0.05 : critical \"Battery below emergency\"\n"
    "reset_count increases : warning \"Spacecraft reset\"\n"
    "no satellite frame for 24 h while link up : warning \"No frame from the satellite for a "
    "day\"\n";

AlarmRules DefaultAlarmRules() { return ParseAlarmRules(kDefaultAlarmRules, "(default rules)"); }

std::string FindAlarmRules(const std::string& working_directory, const PlaceEnvironment& env) {
  const std::filesystem::path here(working_directory.empty() ? "." : working_directory);
  std::error_code ec;
  for (const std::filesystem::path& folder : {here, std::filesystem::path(UserConfigFolder(env))}) {
    const std::filesystem::path file = folder / kAlarmRulesFileName;
    if (!folder.empty() && std::filesystem::exists(file, ec)) return file.string();
  }
  return {};
}

std::optional<AlarmRules> ReadAlarmRules(const std::string& path) {
  const std::optional<SettingsFileHead> file = ReadSettingsFileHead(path, kAlarmRulesBytesMax);
  if (!file) return std::nullopt;
  AlarmRules rules = ParseAlarmRules(file->text, path);
  if (!file->cut) return rules;
  // The line the limit falls in is not whole: it is left out with the rest.
  const auto whole_lines = std::count(file->text.begin(), file->text.end(), '\n');
  rules.errors.push_back(path + ":" + std::to_string(whole_lines + 1) + ": only the first " +
                         std::to_string(kAlarmRulesBytesMax) +
                         " bytes are read; this line and those after it are left out");
  return rules;
}

}  // namespace zevrin
