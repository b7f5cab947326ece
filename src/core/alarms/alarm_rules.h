#pragma once
// Alarm rules: a plain-text file, "zevrinkiss-alarms.ini", one rule a line, that
// tells when the satellite's housekeeping values or its silence deserve a person's
// attention. Values are named as the archive's columns.
//
//   # value test                  [for N records] [clear test]  : severity  ["message"]
//   battery_volts < powersafe_threshold_volts for 3 records       : warning  "Battery low"
//   battery_temp_c outside -10 .. 45 clear inside -8 .. 43          : warning
//   battery_volts below 3.3 clear >= emergency_threshold_volts + 0.05 : critical
//   reset_count increases                                         : warning  "Reset"
//   rate(panel_minus_z_temp_c) > 5 per min                        : watch
//   no satellite frame for 90 min while link up                   : warning
//   notify https://push.example.org/ground-station
//
// A test is `<`, `>`, `<=`, `>=` (or `below`, `above`) a limit, or `outside` /
// `inside` LOW `..` HIGH; a limit is a number or another value, with `+ N` or
// `- N` added. The file is read in full only up to kAlarmRulesBytesMax bytes,
// lines of at most kAlarmRulesLineMax bytes and kAlarmRulesMax rules; what is
// left out is told like a bad rule, and every other rule still applies.
//
// A "notify URL" line names an address every alarm event is posted to as JSON (at
// most kAlarmWebhooksMax of them); it is no rule.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/places.h"

namespace zevrin {

inline constexpr std::string_view kAlarmRulesFileName = "zevrinkiss-alarms.ini";
/// The most of the file that is read; the rest is left out.
inline constexpr std::size_t kAlarmRulesBytesMax = 64 * 1024;
/// The longest line that is taken (without its line break).
inline constexpr std::size_t kAlarmRulesLineMax = 1024;
/// The most rules that are taken, which bounds the work per record.
inline constexpr std::size_t kAlarmRulesMax = 256;
/// The most "notify" addresses that are taken.
inline constexpr std::size_t kAlarmWebhooksMax = 8;

enum class AlarmSeverity : std::uint8_t { kWatch, kWarning, kCritical };

/// "watch", "warning" or "critical".
std::string_view AlarmSeverityName(AlarmSeverity severity);

/// What a rule watches.
enum class AlarmSubject : std::uint8_t {
  kValue,     ///< a value as a record carries it
  kRate,      ///< a value's change between two records, per time unit
  kIncrease,  ///< a counter that grew since its previous record
  kSilence,   ///< time without a frame from the satellite
};

/// How a condition compares its subject with its limits.
enum class AlarmTest : std::uint8_t { kBelow, kAbove, kAtMost, kAtLeast, kOutside, kInside };

/// A limit: a number, or a value named by the rules plus a number.
struct AlarmLimit {
  int value = -1;  ///< index into AlarmRules::values; -1 for the number alone
  double number = 0;
};

/// A test of the subject. `high` is used by kOutside and kInside only.
struct AlarmCondition {
  AlarmTest test = AlarmTest::kBelow;
  AlarmLimit low;
  AlarmLimit high;
  /// The subject is multiplied by it first: a rate per millisecond becomes one
  /// per the condition's time unit.
  double scale = 1;
};

struct AlarmRule {
  std::string text;     ///< the rule as written, without comment: names it in records
  std::string message;  ///< the message given, else the rule's text before the ':'
  std::string subject;  ///< what the value of an event is: "battery_volts", "rate(x) per min"
  AlarmSeverity severity = AlarmSeverity::kWarning;
  AlarmSubject kind = AlarmSubject::kValue;
  int value = -1;  ///< the watched value (index into AlarmRules::values); -1 for silence
  AlarmCondition raise;
  /// The condition that ends an alarm; without one it ends when `raise` fails.
  std::optional<AlarmCondition> clear;
  int records = 1;                 ///< records in a row that must meet `raise`
  std::int64_t silence_ms = 0;     ///< kSilence: the longest quiet time
  double silence_unit_ms = 60000;  ///< kSilence: the unit its events give the time in
  bool while_link_up = false;      ///< kSilence: only time with the link up counts
  int line = 0;                    ///< the line of the file it was written on
};

/// A parsed rules file.
struct AlarmRules {
  std::vector<AlarmRule> rules;
  /// The names of the values the rules use, each once, in order of first use.
  std::vector<std::string> values;
  /// "FILE:LINE: what is wrong" for every rule that was left out, and what the
  /// limits of the reader left out.
  std::vector<std::string> errors;
  /// The http(s) addresses of the "notify" lines, in file order.
  std::vector<std::string> webhooks;
};

/// Parses the rules in `text`; `file` names it in the errors.
AlarmRules ParseAlarmRules(std::string_view text, std::string_view file);

/// Reads and parses the rules file at `path`; nullopt when it cannot be read.
std::optional<AlarmRules> ReadAlarmRules(const std::string& path);

/// The rules file of a program started in `working_directory`, found like the
/// settings file: the one there, otherwise the one in the user's configuration
/// folder; empty when neither is there (the default rules apply).
std::string FindAlarmRules(const std::string& working_directory, const PlaceEnvironment& env);

/// The rules that apply without a rules file: the battery against the satellite's
/// own powersafe and emergency thresholds, a reset of the spacecraft, a day of
/// silence while the link is up.
extern const std::string_view kDefaultAlarmRules;

/// The default rules, parsed; their errors name "(default rules)".
AlarmRules DefaultAlarmRules();

}  // namespace zevrin
