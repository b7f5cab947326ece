#pragma once
// The alarm rules applied to the housekeeping records as they are decoded: a frame
// sink beside the archive and the exports, which tells a listener each time an
// alarm is raised, cleared or acknowledged.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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
  // A value the rules use, as the latest records carried it. What every record
  // reads of it comes first, in one cache line.
  struct alignas(64) Slot {
    // Most values repeat from record to record, or go back to one of the few
    // before, as noise does: the last texts are kept with their values, and none
    // of them is parsed again. Texts are short; a longer one is not kept.
    static constexpr std::size_t kTextKept = 16;
    static constexpr std::size_t kTextsKept = 4;
    static constexpr std::size_t kNoText = std::numeric_limits<std::size_t>::max();
    using Words = std::array<std::uint64_t, 2>;
    struct Text {
      Words words{};               // Packed
      std::size_t size = kNoText;  // none kept (a longer text is not)
      double value = 0;
    };
    // Two words that tell apart any two texts of one length up to kTextKept.
    static Words Packed(std::string_view t);
    // `t` is the text of `size` and `words`. Without branches: which of the
    // kept texts it is, is as good as random.
    static bool Same(const Text& t, std::size_t size, const Words& words) {
      return ((size ^ t.size) | (words[0] ^ t.words[0]) | (words[1] ^ t.words[1])) == 0;
    }
    double value() const { return last.value; }

    Text last;  // the last text and its value: the value
    // The store's version of the field text `last` was taken from (0: none, or
    // not a field's): while the field keeps it, the text is not looked at.
    std::uint64_t version = 0;
    std::uint32_t read_in = 0;  // the last record (a count) that carried it
    bool known = false;
    bool has_previous = false;
    bool keeps_previous = false;  // a rate or an increase reads it: previous, at_ms
    double previous = 0;
    std::int64_t at_ms = 0;
    std::int64_t previous_ms = 0;
    std::array<Text, kTextsKept - 1> older;
    std::size_t next_out = 0;  // the older text the next new one replaces
  };
  // A value a record kind carries, and where.
  struct Read {
    std::size_t slot;
    const ArchiveColumn* column;
    // A display field's text in the store last seen, read without going through
    // the column's source: nearly every value is one. Null for the others.
    const std::string* field = nullptr;
    std::size_t field_index = 0;
  };
  struct RuleState {
    std::size_t value = 0;  // the rule's value (its slot), kept here beside its state
    int streak = 0;         // records in a row that met the raise condition
    bool raised = false;
    bool acknowledged = false;
    // The record kinds (bits by RecordKind) at whose next record carrying its value
    // it is evaluated: a value it reads has changed, or it counts a row.
    std::uint8_t queued = 0;
    std::uint8_t kinds = 0;  // the record kinds that carry its value; none for a rate
    // A rule on a value or a rate with fixed limits: the band around its last
    // value or rate in which nothing can happen to it while it counts no row.
    bool fixed_limits = false;
    double band_low = 1;
    double band_high = 0;             // none: above band_low
    std::int64_t quiet_since_ms = 0;  // a raised silence: the last sign of the satellite
  };

  // The rule's place in the indexes: silences, readers, queues or rates.
  void IndexRule(std::size_t index);
  static bool RateOf(const Slot& slot, double& rate);
  void ReadValues(const DecodedFrame& frame);
  // Takes the number the writer of a field's text handed over with it, where the
  // column reads the text as that number; false when there is none.
  bool TakeNumber(const Read& read, const FieldNumber& number);
  // Takes the text of a read into its slot; false when it is no number.
  bool TakeText(const Read& read, std::string_view text);
  // Takes a text that is not the slot's last one; false when it is no number.
  bool NewValue(std::size_t slot, std::string_view text, const Slot::Words& words,
                const ArchiveColumn& column);
  // The slot's value has changed from `before`, or is new: queues the rules that
  // read it, unless it stays in their bands.
  void QueueReaders(std::size_t slot, double before);
  void FindFields(const DisplayFields& store);
  void EvaluateRules(const DecodedFrame& frame);
  void Queue(std::size_t index);
  void Evaluate(std::size_t index, const DecodedFrame& frame);
  void SetBand(std::size_t index, double value);
  // 1 when `subject` meets the condition, 0 when not, -1 when a limit is unknown.
  int Meets(const AlarmCondition& condition, double subject) const;
  double LimitValue(const AlarmLimit& limit, bool& known) const;
  void WatchSilences(const DecodedFrame& frame);
  void CheckSilences(std::int64_t now_ms);
  // The next check of the silences must look at every one of them.
  void RecheckSilences() { next_silence_ms_ = std::numeric_limits<std::int64_t>::min(); }
  void Change(AlarmChange change, std::size_t index, double value, std::int64_t time_ms,
              const DecodedFrame* frame);

  AlarmRules rules_;
  AlarmListener& listener_;
  std::vector<Slot> slots_;
  std::array<std::vector<Read>, 3> reads_;  // by RecordKind
  // By RecordKind: the rates, evaluated at every record of their value, and the
  // other rules due at the next record.
  std::array<std::vector<std::size_t>, 3> rates_;
  std::array<std::vector<std::size_t>, 3> queue_;
  std::vector<std::size_t> due_;                   // the queue being worked off
  std::vector<std::vector<std::size_t>> readers_;  // by slot: the rules that read it
  std::vector<RuleState> states_;
  std::vector<std::size_t> silence_rules_;
  const DisplayFields* store_ = nullptr;  // the store the reads' fields point into
  std::uint32_t records_ = 0;             // records read so far
  // No silence can run out before this; the silences are only looked at from then on.
  std::int64_t next_silence_ms_ = std::numeric_limits<std::int64_t>::min();
  std::optional<std::int64_t> last_satellite_ms_;
  std::optional<std::int64_t> watch_start_ms_;    // the first frame or tick
  std::optional<std::int64_t> link_up_since_ms_;  // none while the link is down
};

}  // namespace zevrin
