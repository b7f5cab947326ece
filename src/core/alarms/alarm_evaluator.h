#pragma once
// The alarm rules applied to the housekeeping records as they are decoded: a frame
// sink beside the archive and the exports, which tells a listener each time an
// alarm is raised, cleared or acknowledged.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "alarms/alarm_rules.h"
#include "outputs/archive/archive_columns.h"
#include "outputs/frame_sink.h"

namespace zevrin {

enum class AlarmChange : std::uint8_t { kRaised, kCleared, kAcknowledged };

/// One change of an alarm: what a record of it keeps. Views are valid only during
/// the call that tells it.
struct AlarmEvent {
  AlarmChange change = AlarmChange::kRaised;
  std::size_t rule_index = 0;  ///< the rule's place in the evaluator's rules
  const AlarmRule* rule = nullptr;
  /// The subject's value that raised or cleared the alarm: the value, the rate per
  /// the rule's unit, the counter, or the quiet time in the silence's unit.
  double value = 0;
  bool has_value = false;  ///< false for an acknowledgement
  /// When it happened, in milliseconds since 1970 UTC: the reception of the frame
  /// that caused it, or for a silence the moment its limit ran out.
  std::int64_t time_ms = 0;
  /// The frame that caused it: its reception time and bytes, by which the archive
  /// finds it. Empty bytes when no frame did (a silence noticed by Tick, an
  /// acknowledgement).
  std::int64_t frame_received_ms = 0;
  std::span<const std::uint8_t> frame_bytes;
};

class AlarmListener {
 public:
  virtual ~AlarmListener() = default;
  virtual void AlarmChanged(const AlarmEvent& event) = 0;
};

/// Evaluates rules parsed once: the names are looked up when it is made, and a
/// record costs no allocation. Frames must come in reception order; in a replay
/// their times are the recording's, so a silence between two frames is raised at
/// the moment it ran out and cleared by the next frame from the satellite. A live
/// station calls Tick as well, so a silence is noticed while it lasts.
class AlarmEvaluator final : public FrameSink {
 public:
  /// `listener` must outlive the evaluator.
  AlarmEvaluator(AlarmRules rules, AlarmListener& listener);

  void FrameDecoded(const DecodedFrame& frame) override;

  /// The time now and whether the link to the receiver is up: raises the silences
  /// that have run out. Only time with the link up counts for "while link up";
  /// other silences count from the first frame or tick, the link up or not.
  void Tick(std::int64_t now_ms, bool link_up);

  /// A person has seen the raised alarm of rule `rule`; false when it is not
  /// raised or was acknowledged already.
  bool Acknowledge(std::size_t rule, std::int64_t now_ms);

  bool raised(std::size_t rule) const { return states_.at(rule).raised; }
  const AlarmRules& rules() const { return rules_; }

 private:
  // A value the rules use, as the latest records carried it.
  struct Slot {
    std::array<const ArchiveColumn*, 3> columns{};  // by RecordKind; null where it has none
    double value = 0;
    double previous = 0;
    std::int64_t at_ms = 0;
    std::int64_t previous_ms = 0;
    bool known = false;
    bool has_previous = false;
    bool fresh = false;  // the frame being evaluated carried it
  };
  struct RuleState {
    int streak = 0;  // records in a row that met the raise condition
    bool raised = false;
    bool acknowledged = false;
    std::int64_t quiet_since_ms = 0;  // a raised silence: the last sign of the satellite
  };

  void ReadValues(const DecodedFrame& frame);
  void Evaluate(std::size_t index, const DecodedFrame& frame);
  std::optional<bool> Meets(const AlarmCondition& condition, double subject) const;
  void CheckSilences(std::int64_t now_ms);
  void Change(AlarmChange change, std::size_t index, double value, std::int64_t time_ms,
              const DecodedFrame* frame);

  AlarmRules rules_;
  AlarmListener& listener_;
  std::vector<Slot> slots_;
  std::array<std::vector<std::size_t>, 3> slots_of_record_;  // by RecordKind
  std::vector<RuleState> states_;
  std::vector<std::size_t> value_rules_;    // every rule but the silences
  std::vector<std::size_t> silence_rules_;  // the silences
  std::optional<std::int64_t> last_satellite_ms_;
  std::optional<std::int64_t> watch_start_ms_;    // the first frame or tick
  std::optional<std::int64_t> link_up_since_ms_;  // none while the link is down
};

}  // namespace zevrin
