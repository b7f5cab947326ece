#include "alarms/alarm_evaluator.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace zevrin {

namespace {

constexpr std::size_t kRecordKinds = 3;
constexpr RecordKind kRecordsWithValues[] = {RecordKind::kPower, RecordKind::kSystem};

std::size_t At(RecordKind record) { return static_cast<std::size_t>(record); }

double Number(const ColumnValue& v) {
  return v.is_integer ? static_cast<double>(v.integer) : v.real;
}

// Values and limits are short decimals, and a limit with an offset is a sum of
// two (3.33 + 0.05 gives 3.3800000000000003): within this part of the limit the
// value counts as equal to it, so "3.38 >= 3.33 + 0.05" holds as written.
constexpr double kEqualWithin = 1e-9;

// -1, 0 or 1 as `x` is below, at or above `limit`.
int Compare(double x, double limit) {
  const double size = limit < 0 ? -limit : limit;
  const double within = kEqualWithin * (size > 1 ? size : 1);
  if (x < limit - within) return -1;
  return x > limit + within ? 1 : 0;
}

}  // namespace

// The change per millisecond between the value's last two records; false when
// there are not two at different times.
bool AlarmEvaluator::RateOf(const Slot& slot, double& rate) {
  if (!slot.has_previous || slot.at_ms <= slot.previous_ms) return false;
  rate = (slot.value() - slot.previous) / static_cast<double>(slot.at_ms - slot.previous_ms);
  return true;
}

// The first and the last bytes of the text, in two loads that overlap for a
// text shorter than both: together they hold every byte of it.
AlarmEvaluator::Slot::Words AlarmEvaluator::Slot::Packed(std::string_view t) {
  const char* p = t.data();
  const std::size_t n = t.size();
  Words w{};
  if (n >= 8 && n <= kTextKept) {
    std::memcpy(&w[0], p, 8);
    std::memcpy(&w[1], p + n - 8, 8);
  } else if (n >= 4 && n < 8) {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + n - 4, 4);
    w[0] = first;
    w[1] = last;
  } else if (n > 0 && n < 4) {
    w[0] = static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[n / 2]) << 8 |
           static_cast<unsigned char>(p[n - 1]) << 16;
  }
  return w;
}

AlarmEvaluator::AlarmEvaluator(AlarmRules rules, AlarmListener& listener)
    : rules_(std::move(rules)), listener_(listener) {
  slots_.resize(rules_.values.size());
  readers_.resize(rules_.values.size());
  for (const RecordKind record : kRecordsWithValues) {
    for (const ArchiveColumn* column : RecordColumns(record)) {
      const auto name = std::ranges::find(rules_.values, column->name);
      if (name == rules_.values.end()) continue;
      const auto slot = static_cast<std::size_t>(name - rules_.values.begin());
      reads_[At(record)].push_back({slot, column});
    }
  }
  states_.resize(rules_.rules.size());
  // The queues trade their room as they are worked off; each holds every rule
  // at most once, so none ever needs more.
  due_.reserve(rules_.rules.size());
  for (std::vector<std::size_t>& queue : queue_) queue.reserve(rules_.rules.size());
  for (std::size_t i = 0; i < rules_.rules.size(); ++i) IndexRule(i);
}

void AlarmEvaluator::IndexRule(std::size_t i) {
  const AlarmRule& rule = rules_.rules[i];
  if (rule.kind == AlarmSubject::kSilence) {
    silence_rules_.push_back(i);
    return;
  }
  // A rule is told of a change of its value and of the values of its limits.
  const auto reads = [&](int value) {
    if (value < 0) return;
    std::vector<std::size_t>& readers = readers_[static_cast<std::size_t>(value)];
    if (std::ranges::find(readers, i) == readers.end()) readers.push_back(i);
  };
  reads(rule.value);
  bool fixed = rule.kind == AlarmSubject::kValue || rule.kind == AlarmSubject::kRate;
  for (const AlarmCondition* c : {&rule.raise, rule.clear ? &*rule.clear : nullptr}) {
    if (c == nullptr) continue;
    reads(c->low.value);
    reads(c->high.value);
    fixed = fixed && c->low.value < 0 && c->high.value < 0;
  }
  states_[i].fixed_limits = fixed;
  const auto value = static_cast<std::size_t>(rule.value);
  states_[i].value = value;
  const bool previous = rule.kind == AlarmSubject::kRate || rule.kind == AlarmSubject::kIncrease;
  slots_[value].keeps_previous |= previous;
  for (const RecordKind record : kRecordsWithValues) {
    const auto carries = [&](const Read& r) { return r.slot == value; };
    if (std::ranges::none_of(reads_[At(record)], carries)) continue;
    if (rule.kind == AlarmSubject::kRate) {
      rates_[At(record)].push_back(i);
    } else {
      states_[i].kinds |= static_cast<std::uint8_t>(1U << At(record));
    }
  }
}

void AlarmEvaluator::FrameDecoded(const DecodedFrame& frame) {
  if (!silence_rules_.empty()) WatchSilences(frame);
  const std::size_t record = At(frame.record);
  if (record >= kRecordKinds || frame.fields == nullptr || reads_[record].empty()) {
    return;
  }
  ReadValues(frame);
  EvaluateRules(frame);
}

void AlarmEvaluator::FindFields(const DisplayFields& store) {
  store_ = &store;
  for (std::vector<Read>& reads : reads_) {
    for (Read& read : reads) {
      const bool field = read.column->source == ValueSource::kField;
      read.field = field ? &store.Field(read.column->index) : nullptr;
      read.field_index = static_cast<std::size_t>(read.column->index);
    }
  }
}

void AlarmEvaluator::ReadValues(const DecodedFrame& frame) {
  const DisplayFields& store = *frame.fields;
  if (&store != store_) FindFields(store);
  ++records_;
  const std::bitset<kDisplayFieldCount>& fields = store.FieldsWritten();
  for (const Read& read : reads_[At(frame.record)]) {
    Slot& slot = slots_[read.slot];
    const double before = slot.value();
    std::uint64_t version = 0;
    if (read.field != nullptr) {
      if (!fields[read.field_index]) continue;
      // The text the slot holds, unless the store has changed it since. No two
      // writes of any store get the same version, so an equal one is this field's.
      version = store.FieldVersion(static_cast<int>(read.field_index));
      if (!(slot.known && slot.version == version)) {
        if (!TakeNumber(read, store.Number(static_cast<int>(read.field_index))) &&
            !TakeText(read, *read.field)) {
          continue;  // no number
        }
      }
    } else {
      const std::optional<std::string_view> t =
          WrittenColumnText(*read.column, store, FrameWriteSet(store));
      if (!t || !TakeText(read, *t)) continue;
    }
    slot.version = version;
    if (slot.keeps_previous) {
      slot.previous = before;
      slot.previous_ms = slot.at_ms;
      slot.has_previous = slot.known;
      slot.at_ms = frame.received_ms;
    }
    slot.known = true;
    slot.read_in = records_;
  }
}

bool AlarmEvaluator::TakeNumber(const Read& read, const FieldNumber& number) {
  const ValueKind kind = read.column->kind;
  if (!number.known ||
      !(kind == ValueKind::kReal || (kind == ValueKind::kInteger && number.whole))) {
    return false;
  }
  Slot& slot = slots_[read.slot];
  const double before = slot.value();
  slot.last.size = Slot::kNoText;  // the value of no kept text
  slot.last.value = number.value;
  QueueReaders(read.slot, before);
  return true;
}

bool AlarmEvaluator::TakeText(const Read& read, std::string_view text) {
  const Slot& slot = slots_[read.slot];
  const Slot::Words words = Slot::Packed(text);
  return (slot.known && Slot::Same(slot.last, text.size(), words)) ||
         NewValue(read.slot, text, words, *read.column);
}

bool AlarmEvaluator::NewValue(std::size_t index, std::string_view text, const Slot::Words& words,
                              const ArchiveColumn& column) {
  Slot& slot = slots_[index];
  const double before = slot.value();
  unsigned held = 0;  // bit k: the older text k is this one
  for (std::size_t k = 0; k < slot.older.size(); ++k) {
    held |= static_cast<unsigned>(slot.known && Slot::Same(slot.older[k], text.size(), words)) << k;
  }
  if (held != 0) {
    std::swap(slot.last, slot.older[static_cast<std::size_t>(std::countr_zero(held))]);
  } else {
    const ColumnValue v = ColumnValueOfText(column, text);
    if (!v.present) return false;
    // The last text takes the place of the oldest, in turn.
    slot.older[slot.next_out] = slot.last;
    slot.next_out = slot.next_out + 1 < slot.older.size() ? slot.next_out + 1 : 0;
    const bool kept = text.size() <= Slot::kTextKept;
    slot.last = {words, kept ? text.size() : Slot::kNoText, Number(v)};
  }
  QueueReaders(index, before);
  return true;
}

void AlarmEvaluator::QueueReaders(std::size_t index, double before) {
  const Slot& slot = slots_[index];
  const double value = slot.value();
  if (slot.known && value == before) return;
  for (const std::size_t r : readers_[index]) {
    const RuleState& state = states_[r];
    if (!(value >= state.band_low && value <= state.band_high)) Queue(r);
  }
}

void AlarmEvaluator::Queue(std::size_t index) {
  RuleState& state = states_[index];
  for (const RecordKind record : kRecordsWithValues) {
    const auto bit = static_cast<std::uint8_t>(1U << At(record));
    if ((state.kinds & bit) == 0 || (state.queued & bit) != 0) continue;
    state.queued |= bit;
    queue_[At(record)].push_back(index);
  }
}

// A rule not in the queue is settled: no value it reads has changed, an alarm
// not raised was not met and a raised one did not end. A rate is a change in
// itself.
void AlarmEvaluator::EvaluateRules(const DecodedFrame& frame) {
  const std::size_t record = At(frame.record);
  const auto read = [&](std::size_t index) {
    return slots_[states_[index].value].read_in == records_;
  };
  for (const std::size_t i : rates_[record]) {
    const Slot& slot = slots_[states_[i].value];
    double rate = 0;
    if (slot.read_in != records_ || !RateOf(slot, rate)) continue;
    const RuleState& state = states_[i];
    if (state.streak == 0 && rate >= state.band_low && rate <= state.band_high) continue;
    Evaluate(i, frame);
  }
  due_.swap(queue_[record]);
  for (const std::size_t i : due_) {
    states_[i].queued &= static_cast<std::uint8_t>(~(1U << record));
    if (read(i)) {
      Evaluate(i, frame);
    } else {
      Queue(i);  // for a record that carries its value
    }
  }
  due_.clear();
}

double AlarmEvaluator::LimitValue(const AlarmLimit& limit, bool& known) const {
  if (limit.value < 0) return limit.number;
  // A limit taken from a value that no record has carried yet is unknown.
  const Slot& slot = slots_[static_cast<std::size_t>(limit.value)];
  known = known && slot.known;
  return slot.value() + limit.number;
}

int AlarmEvaluator::Meets(const AlarmCondition& c, double subject) const {
  const double x = subject * c.scale;
  bool known = true;
  const int to_low = Compare(x, LimitValue(c.low, known));
  bool met = false;
  switch (c.test) {
    case AlarmTest::kBelow:
      met = to_low < 0;
      break;
    case AlarmTest::kAbove:
      met = to_low > 0;
      break;
    case AlarmTest::kAtMost:
      met = to_low <= 0;
      break;
    case AlarmTest::kAtLeast:
      met = to_low >= 0;
      break;
    case AlarmTest::kOutside:
    case AlarmTest::kInside: {
      const bool inside = to_low >= 0 && Compare(x, LimitValue(c.high, known)) <= 0;
      met = inside == (c.test == AlarmTest::kInside);
      break;
    }
  }
  return known ? met : -1;
}

void AlarmEvaluator::Evaluate(std::size_t index, const DecodedFrame& frame) {
  const AlarmRule& rule = rules_.rules[index];
  RuleState& state = states_[index];
  state.band_low = 1;  // none until it is settled again
  state.band_high = 0;
  const Slot& slot = slots_[static_cast<std::size_t>(rule.value)];
  double subject = slot.value();
  int met = 0;
  if (rule.kind == AlarmSubject::kIncrease) {
    if (!slot.has_previous) return;
    met = slot.value() > slot.previous;
  } else {
    if (rule.kind == AlarmSubject::kRate && !RateOf(slot, subject)) return;
    met = Meets(rule.raise, subject);
    if (met < 0) return;
  }
  // The value an event gives: a rate per the unit of the raise condition.
  const double value = subject * rule.raise.scale;
  if (!state.raised) {
    state.streak = met != 0 ? state.streak + 1 : 0;
    if (state.streak >= rule.records) {
      Change(AlarmChange::kRaised, index, value, frame.received_ms, &frame);
    }
  } else if (rule.clear ? Meets(*rule.clear, subject) == 1 : met == 0) {
    Change(AlarmChange::kCleared, index, value, frame.received_ms, &frame);
  }
  SetBand(index, subject);
  // A row being counted, and a raised increase, which ends without a change.
  const bool increase = rule.kind == AlarmSubject::kIncrease;
  if (state.streak > 0 || (increase && state.raised)) Queue(index);
}

// Between two neighbouring limits every test of the rule comes out the same, so
// a settled rule stays settled while its value stays there. Each limit is kept
// clear of by twice what a comparison takes as equal to it.
void AlarmEvaluator::SetBand(std::size_t index, double value) {
  RuleState& state = states_[index];
  state.band_low = 1;
  state.band_high = 0;
  const AlarmRule& rule = rules_.rules[index];
  if (!state.fixed_limits) return;
  double low = -std::numeric_limits<double>::infinity();
  double high = std::numeric_limits<double>::infinity();
  for (const AlarmCondition* c : {&rule.raise, rule.clear ? &*rule.clear : nullptr}) {
    if (c == nullptr) continue;
    const bool range = c->test == AlarmTest::kOutside || c->test == AlarmTest::kInside;
    for (const double number : {c->low.number, range ? c->high.number : c->low.number}) {
      // Where the subject meets the limit: a rate is tested per the test's unit.
      const double limit = number / c->scale;
      const double margin =
          2 * kEqualWithin * std::max(1.0, number < 0 ? -number : number) / c->scale;
      if (value >= limit - margin && value <= limit + margin) return;  // at a limit
      if (limit < value) low = std::max(low, limit + margin);
      if (limit > value) high = std::min(high, limit - margin);
    }
  }
  state.band_low = low;
  state.band_high = high;
}

bool AlarmEvaluator::Acknowledge(std::size_t rule, std::int64_t now_ms) {
  if (rule >= states_.size() || !states_[rule].raised || states_[rule].acknowledged) return false;
  Change(AlarmChange::kAcknowledged, rule, 0, now_ms, nullptr);
  return true;
}

void AlarmEvaluator::Change(AlarmChange change, std::size_t index, double value,
                            std::int64_t time_ms, const DecodedFrame* frame) {
  RuleState& state = states_[index];
  state.raised = change != AlarmChange::kCleared;
  state.acknowledged = change == AlarmChange::kAcknowledged;
  state.streak = 0;
  AlarmEvent event;
  event.change = change;
  event.rule_index = index;
  event.rule = &rules_.rules[index];
  event.value = value;
  event.has_value = change != AlarmChange::kAcknowledged;
  event.time_ms = time_ms;
  if (frame != nullptr) {
    event.frame_received_ms = frame->received_ms;
    event.frame_bytes = frame->bytes;
  }
  listener_.AlarmChanged(event);
}

}  // namespace zevrin
