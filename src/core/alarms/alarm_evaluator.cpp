#include "alarms/alarm_evaluator.h"

#include <algorithm>
#include <utility>

namespace zevrin {

namespace {

constexpr std::size_t kRecordKinds = 3;
constexpr RecordKind kRecordsWithValues[] = {RecordKind::kPower, RecordKind::kSystem};

std::size_t At(RecordKind record) { return static_cast<std::size_t>(record); }

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

bool AlarmEvaluator::PreviousOf(const Slot& slot, double& previous) const {
  if (slot.rated || slot.taken_in == records_) {
    previous = slot.previous;
    return slot.has_previous;
  }
  previous = slot.value;  // not changed by this record
  return slot.known;
}

// The change per millisecond between the value's last two records; false when
// there are not two at different times.
bool AlarmEvaluator::RateOf(const Slot& slot, double& rate) {
  if (!slot.has_previous || slot.at_ms <= slot.previous_ms) return false;
  rate = (slot.value - slot.previous) / static_cast<double>(slot.at_ms - slot.previous_ms);
  return true;
}

AlarmEvaluator::AlarmEvaluator(AlarmRules rules, AlarmListener& listener)
    : rules_(std::move(rules)), listener_(listener) {
  slots_.resize(rules_.values.size());
  texts_.resize(rules_.values.size());
  readers_.resize(rules_.values.size());
  for (const RecordKind record : kRecordsWithValues) {
    for (const ArchiveColumn* column : RecordColumns(record)) {
      const auto name = std::ranges::find(rules_.values, column->name);
      if (name == rules_.values.end()) continue;
      const auto slot = static_cast<std::size_t>(name - rules_.values.begin());
      if (column->source != ValueSource::kField) {
        other_reads_[At(record)].push_back({0, slot, column});
        continue;
      }
      FieldRead read;
      read.slot = static_cast<std::uint32_t>(slot);
      read.field = column->index;
      read.any_number = column->kind == ValueKind::kReal;
      read.whole_number = read.any_number || column->kind == ValueKind::kInteger;
      read.column = column;
      field_reads_[At(record)].push_back(read);
    }
  }
  states_.resize(rules_.rules.size());
  // The queues trade their room as they are worked off; each holds every rule
  // at most once, so none ever needs more.
  due_.reserve(rules_.rules.size());
  for (std::vector<std::size_t>& queue : queue_) queue.reserve(rules_.rules.size());
  for (std::size_t i = 0; i < rules_.rules.size(); ++i) IndexRule(i);
  for (std::size_t slot = 0; slot < slots_.size(); ++slot) RefreshBand(slot);
  for (std::size_t record = 0; record < kRecordKinds; ++record) {
    reads_values_[record] = !field_reads_[record].empty() || !other_reads_[record].empty();
  }
  IndexFields();
}

void AlarmEvaluator::IndexRule(std::size_t i) {
  const AlarmRule& rule = rules_.rules[i];
  if (rule.kind == AlarmSubject::kSilence) {
    silence_rules_.push_back(i);
    return;
  }
  // A rule is told of a change of its value and of the values of its limits.
  const auto reads = [&](int value) {
    if (value < 0 || rule.kind == AlarmSubject::kRate) return;
    std::vector<std::size_t>& readers = readers_[static_cast<std::size_t>(value)];
    if (std::ranges::find(readers, i) == readers.end()) readers.push_back(i);
  };
  reads(rule.value);
  bool fixed_limits = true;
  for (const AlarmCondition* c : {&rule.raise, rule.clear ? &*rule.clear : nullptr}) {
    if (c == nullptr) continue;
    reads(c->low.value);
    reads(c->high.value);
    fixed_limits = fixed_limits && c->low.value < 0 && c->high.value < 0;
  }
  states_[i].has_band =
      rule.kind == AlarmSubject::kValue || (rule.kind == AlarmSubject::kRate && fixed_limits);
  const auto value = static_cast<std::size_t>(rule.value);
  states_[i].value = value;
  slots_[value].rated |= rule.kind == AlarmSubject::kRate;
  for (const RecordKind record : kRecordsWithValues) {
    const auto carries = [&](const auto& r) { return r.slot == value; };
    if (std::ranges::none_of(field_reads_[At(record)], carries) &&
        std::ranges::none_of(other_reads_[At(record)], carries)) {
      continue;
    }
    if (rule.kind == AlarmSubject::kRate) {
      rates_[At(record)].push_back(i);
    } else {
      states_[i].kinds |= static_cast<std::uint8_t>(1U << At(record));
    }
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
  for (const std::size_t i : rates_[record]) {
    const Slot& slot = slots_[states_[i].value];
    const RuleState& state = states_[i];
    double rate = 0;
    if (slot.read_in != records_ || !RateOf(slot, rate)) continue;
    // A value unchanged since the record before moved at 0.
    rate = Pick(slot.taken_in == records_, rate, 0.0);
    if (state.streak == 0 && rate >= state.band_low && rate <= state.band_high) continue;
    Evaluate(i, frame);
  }
  if (!queue_[record].empty()) WorkOffQueue(frame);
}

void AlarmEvaluator::WorkOffQueue(const DecodedFrame& frame) {
  const std::size_t record = At(frame.record);
  const auto read = [&](std::size_t index) { return Carried(index, frame.record, *frame.fields); };
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
  return slot.value + limit.number;
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
  Judge(index, frame);
  // The band of a rule on a value is also its value's slot's (a rate's is its own).
  if (rules_.rules[index].kind == AlarmSubject::kValue) RefreshBand(states_[index].value);
}

void AlarmEvaluator::Judge(std::size_t index, const DecodedFrame& frame) {
  const AlarmRule& rule = rules_.rules[index];
  RuleState& state = states_[index];
  state.band_low = 1;  // none until it is settled again
  state.band_high = 0;
  const Slot& slot = slots_[static_cast<std::size_t>(rule.value)];
  double subject = slot.value;
  int met = 0;
  if (rule.kind == AlarmSubject::kIncrease) {
    double previous = 0;
    if (!PreviousOf(slot, previous)) return;
    met = slot.value > previous;
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
  // A limit taken from another value holds while that value does: a change of
  // it queues the rule, which then settles in a band of the new limits.
  if (!state.has_band) return;
  double low = -std::numeric_limits<double>::infinity();
  double high = std::numeric_limits<double>::infinity();
  for (const AlarmCondition* c : {&rule.raise, rule.clear ? &*rule.clear : nullptr}) {
    if (c == nullptr) continue;
    const bool range = c->test == AlarmTest::kOutside || c->test == AlarmTest::kInside;
    bool known = true;
    const double low_limit = LimitValue(c->low, known);
    const double high_limit = range ? LimitValue(c->high, known) : low_limit;
    if (!known) return;
    for (const double number : {low_limit, high_limit}) {
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
  if (rules_.rules[index].kind == AlarmSubject::kSilence) {
    silences_raised_ += state.raised ? 0 : 1;
    silences_raised_ -= change == AlarmChange::kCleared ? 1 : 0;
  }
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
