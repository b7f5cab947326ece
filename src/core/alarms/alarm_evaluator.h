#pragma once
// The alarm rules applied to the housekeeping records as they are decoded: a frame
// sink beside the archive and the exports, which tells a listener each time an
// alarm is raised, cleared or acknowledged.

#include <array>
#include <bit>
#include <bitset>
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
  // A value the rules use, as the latest records carried it: all that a record
  // carrying it reads and writes, in one cache line.
  struct alignas(64) Slot {
    double value = 0;
    // Where the value may go without any rule that reads it having to look: the
    // band every one of them is settled in. Empty (above band_low) while one of
    // them is not settled or takes a limit from it; everywhere when none reads it.
    double band_low = 1;
    double band_high = 0;
    // The value before the last take of another, or for a rate's value the value
    // at the record before that carried it, at previous_ms.
    double previous = 0;
    std::int64_t at_ms = 0;  // a rate's value: the last record that carried it
    std::int64_t previous_ms = 0;
    // The last record (a count) that carried it, for a rate's value and one that
    // is no display field's; the others are carried by a record that writes their
    // field, unless its text is no number.
    std::uint32_t read_in = 0;
    std::uint32_t taken_in = 0;  // the last record in which another value was taken
    // By RecordKind: the display field whose replacements it is taken from; -1
    // where it is no display field's.
    std::array<std::int8_t, 3> field_of{-1, -1, -1};
    bool known = false;
    bool has_previous = false;
    bool rated = false;       // a rate reads it: previous and at_ms follow every record
    bool unreadable = false;  // the text last taken from its field was no number
    bool InBand(double v) const { return v >= band_low && v <= band_high; }
  };
  // The last texts of a value read from its text, with their values: most values
  // repeat, or go back to one of the few before, as noise does, so that a text is
  // parsed only once. Texts are short; a longer one is not kept.
  struct Texts {
    static constexpr std::size_t kTextKept = 16;
    static constexpr std::size_t kNoText = std::numeric_limits<std::size_t>::max();
    using Words = std::array<std::uint64_t, 2>;
    struct Text {
      Words words{};               // Packed
      std::size_t size = kNoText;  // none kept
      double value = 0;
    };
    // Two words that tell apart any two texts of one length up to kTextKept.
    static Words Packed(std::string_view t);
    std::array<Text, 4> kept;
    std::size_t next_out = 0;  // the kept text the next new one replaces
  };
  // A display field's text that a record kind carries, as a value: nearly every
  // value is one. The number the writer handed over with the text is taken where
  // the column reads the text as that number; else the text is read.
  struct FieldRead {
    std::uint32_t slot = 0;
    int field = 0;
    bool any_number = false;    // a real column: any number handed over is its value
    bool whole_number = false;  // an integer column: a whole one is
    const ArchiveColumn* column = nullptr;
  };
  // Any other value a record kind carries (a box, a gauge, a colour), read
  // through its column.
  struct Read {
    // The store's version of the text last taken; 0 for none, and always for a
    // colour, which has none.
    std::uint64_t version = 0;
    std::size_t slot = 0;
    const ArchiveColumn* column = nullptr;
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
    // The rule settles in a band around its last value or rate, in which nothing
    // can happen to it while it counts no row and the values of its limits stay:
    // a rule on a value, whose limits' changes queue it, and a rule on a rate
    // whose limits are numbers alone (a rate's rules are told of no change).
    bool has_band = false;
    double band_low = 1;
    double band_high = 0;             // none: above band_low
    std::int64_t quiet_since_ms = 0;  // a raised silence: the last sign of the satellite
  };

  // `a` where `pick` holds, else `b`, without a branch: used where which of the
  // two it is comes at random from record to record, as whether a value changed.
  static double Pick(bool pick, double a, double b) {
    const std::uint64_t mask = 0 - static_cast<std::uint64_t>(pick);
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(a) & mask) |
                                 (std::bit_cast<std::uint64_t>(b) & ~mask));
  }
  // The rule's place in the indexes: silences, readers, queues or rates.
  void IndexRule(std::size_t index);
  static bool RateOf(const Slot& slot, double& rate);
  // The value at the record before, which carried it too; false when there was none.
  bool PreviousOf(const Slot& slot, double& previous) const;
  // Indexes the field reads by their fields.
  void IndexFields();
  // Notes the fields the frame replaced, for the record kinds that read them.
  [[gnu::always_inline]] inline void NoteReplaced(const DisplayFields& store);
  void ReadValues(const DecodedFrame& frame);
  // Takes the field's text, replaced since it was last taken, into its slot.
  [[gnu::always_inline]] inline void TakeReplaced(const FieldRead& read,
                                                  const DisplayFields& store);
  // The rule's value was carried by the record being evaluated.
  bool Carried(std::size_t rule, RecordKind record, const DisplayFields& store) const;
  [[gnu::always_inline]] inline void ReadOther(Read& read, const DecodedFrame& frame);
  // Takes the column's text written by this frame; false when there is none or
  // it is no number. Apart, so that the common reads keep few registers.
  [[gnu::noinline]] bool TakeColumnText(std::size_t slot, const ArchiveColumn& column,
                                        const DisplayFields& store);
  // Takes a text as the value of `slot`; false when it is no number.
  bool TakeText(std::size_t slot, std::string_view text, const ArchiveColumn& column);
  // The slot has taken a value in place of `before`: queues the rules that read
  // it unless the value stays in their bands.
  [[gnu::always_inline]] inline void Took(std::size_t slot, double before, bool was_known);
  // The slot, read in full, was carried by this record.
  void MarkCarried(Slot& slot, double before, bool was_known, std::int64_t now_ms);
  [[gnu::noinline]] void QueueReaders(std::size_t slot);
  // The band of a slot after a change of the bands of the rules that read it.
  void RefreshBand(std::size_t slot);
  void EvaluateRules(const DecodedFrame& frame);
  // Evaluates the rules queued for the frame's record kind. Apart, as Evaluate
  // is, so that a record that changes nothing costs few registers.
  [[gnu::noinline]] void WorkOffQueue(const DecodedFrame& frame);
  void Queue(std::size_t index);
  // Evaluates the rule and settles it again in a band, if it can be.
  [[gnu::noinline]] void Evaluate(std::size_t index, const DecodedFrame& frame);
  void Judge(std::size_t index, const DecodedFrame& frame);
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
  std::vector<Texts> texts_;  // by slot
  // By RecordKind: the values it carries.
  std::array<std::vector<FieldRead>, 3> field_reads_;
  std::array<std::vector<Read>, 3> other_reads_;
  std::array<bool, 3> reads_values_{};  // by RecordKind: it carries a value the rules use
  // By RecordKind: a field's text is taken only when the store has replaced it,
  // which is noted at every frame: the fields read, the read of each, those
  // replaced since they were last taken, and the reads of rates' values.
  // Sets of fields as words, which a record walks bit by bit.
  static constexpr std::size_t kFieldWords = (kDisplayFieldCount + 63) / 64;
  using FieldWords = std::array<std::uint64_t, kFieldWords>;
  static FieldWords WordsOf(const std::bitset<kDisplayFieldCount>& fields);
  std::array<FieldWords, 3> watched_{};
  std::array<FieldWords, 3> replaced_{};
  FieldWords watched_any_{};  // by any record kind
  std::array<std::array<std::uint8_t, kDisplayFieldCount>, 3> read_of_field_{};
  std::array<std::vector<std::size_t>, 3> rated_reads_;
  const DisplayFields* store_ = nullptr;  // the store whose replacements are noted
  // By RecordKind: the rates, evaluated at every record of their value, and the
  // other rules due at the next record.
  std::array<std::vector<std::size_t>, 3> rates_;
  std::array<std::vector<std::size_t>, 3> queue_;
  std::vector<std::size_t> due_;  // the queue being worked off
  // By slot: the rules that read it, and that a change of it can raise or clear
  // (a rate looks at every record of its value).
  std::vector<std::vector<std::size_t>> readers_;
  std::vector<RuleState> states_;
  std::vector<std::size_t> silence_rules_;
  std::size_t silences_raised_ = 0;
  std::uint32_t records_ = 0;  // records read so far
  // No silence can run out before this; the silences are only looked at from then on.
  std::int64_t next_silence_ms_ = std::numeric_limits<std::int64_t>::min();
  std::optional<std::int64_t> last_satellite_ms_;
  std::optional<std::int64_t> watch_start_ms_;    // the first frame or tick
  std::optional<std::int64_t> link_up_since_ms_;  // none while the link is down
};

}  // namespace zevrin
