#pragma once
// --alarms for zevrinkiss-decode: the alarm rules evaluated on every frame at the
// times the run gives it, each raise and clear told on standard error and, in the
// JSON format, as a line of its own among the frames; posted to the rules file's
// "notify" addresses by a live link, and by a replay with --notify.

#include <cstdio>
#include <memory>
#include <string>

#include "alarms/alarm_evaluator.h"
#include "alarms/alarm_webhook.h"
#include "base/text_builder.h"
#include "base/time_of_day.h"
#include "outputs/export/output_buffer.h"

namespace zevrin {

/// The --help lines of --alarms.
extern const char* const kAlarmsUsage;

/// The option that lets a replay post to the webhooks, as a live link always does.
inline constexpr std::string_view kNotifyOption = "--notify";

/// The value of --alarms that asks for the default rules.
inline constexpr std::string_view kDefaultAlarmsName = "default";

/// Takes --alarms FILE (or --alarms=FILE) at argv[i], moving i past the value.
/// Returns false when argv[i] is something else; `error` is set for a bad value.
bool TakeAlarmsOption(int argc, char** argv, int& i, std::string& rules, std::string& error);

class AlarmRun final : private AlarmListener {
 public:
  /// Reads the rules file (the default rules for kDefaultAlarmsName) and tells
  /// each rule that is left out on `messages`. Null with `error` set when the file
  /// cannot be read.
  static std::unique_ptr<AlarmRun> Create(const std::string& rules, std::FILE* messages,
                                          std::string& error);

  /// The frames to evaluate, with their reception times.
  FrameSink& sink() { return evaluator_; }
  /// Another listener told of every event after it is printed (the archive's
  /// alarms); null for none.
  void AlsoTell(AlarmListener* next) { next_ = next; }
  /// Where the events go as JSON lines; null for nowhere.
  void SetJsonOutput(OutputBuffer* out) { json_ = out; }
  /// Posts every event from now on to the rules file's "notify" addresses, naming
  /// `station`; what is given up is told on the messages.
  void StartWebhooks(const std::string& station);
  /// Gives the posts still waiting a few seconds to go out; the rest are given up.
  void Finish();
  /// A live link's tick: the silences are judged at the clock's time.
  void Tick(bool link_up) { evaluator_.Tick(ToUtcMillis(clock_.Now()), link_up); }

 private:
  AlarmRun(AlarmRules rules, std::FILE* messages);
  void AlarmChanged(const AlarmEvent& event) override;
  void AppendJson(const AlarmEvent& event, std::string_view time);

  std::FILE* messages_;
  TextBuilder line_;  // the line of an event, its room kept from one to the next
  OutputBuffer* json_ = nullptr;
  AlarmListener* next_ = nullptr;
  std::unique_ptr<AlarmWebhook> webhook_;  // null without addresses or not started
  SystemClock clock_;
  AlarmEvaluator evaluator_;
};

}  // namespace zevrin
