#include "alarms/alarm_evaluator.h"

#include <algorithm>
#include <cmath>
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
  if (std::fabs(x - limit) <= kEqualWithin * std::fmax(1.0, std::fabs(limit))) return 0;
  return x < limit ? -1 : 1;
}

}  // namespace

AlarmEvaluator::AlarmEvaluator(AlarmRules rules, AlarmListener& listener)
    : rules_(std::move(rules)), listener_(listener) {
  slots_.resize(rules_.values.size());
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    for (const RecordKind record : kRecordsWithValues) {
      for (const ArchiveColumn* column : RecordColumns(record)) {
        if (column->name != rules_.values[i]) continue;
        slots_[i].columns[At(record)] = column;
        slots_of_record_[At(record)].push_back(i);
      }
    }
  }
  states_.resize(rules_.rules.size());
  for (std::size_t i = 0; i < rules_.rules.size(); ++i) {
    const bool silence = rules_.rules[i].kind == AlarmSubject::kSilence;
    (silence ? silence_rules_ : value_rules_).push_back(i);
  }
}

void AlarmEvaluator::FrameDecoded(const DecodedFrame& frame) {
  const std::int64_t now = frame.received_ms;
  if (!watch_start_ms_) watch_start_ms_ = now;
  // A frame shows the link is up, also where no tick says so (a replay).
  if (!link_up_since_ms_) link_up_since_ms_ = now;
  CheckSilences(now);
  if (frame.from_satellite) {
    for (const std::size_t i : silence_rules_) {
      if (!states_[i].raised) continue;
      const double quiet = static_cast<double>(now - states_[i].quiet_since_ms);
      Change(AlarmChange::kCleared, i, quiet / rules_.rules[i].silence_unit_ms, now, &frame);
    }
    last_satellite_ms_ = now;
  }
  const std::size_t record = At(frame.record);
  if (record >= kRecordKinds || frame.fields == nullptr || slots_of_record_[record].empty()) {
    return;
  }
  ReadValues(frame);
  for (const std::size_t i : value_rules_) {
    if (slots_[static_cast<std::size_t>(rules_.rules[i].value)].fresh) Evaluate(i, frame);
  }
  for (const std::size_t s : slots_of_record_[record]) slots_[s].fresh = false;
}

void AlarmEvaluator::ReadValues(const DecodedFrame& frame) {
  const FrameWriteSet written(frame.fields->Writes());
  const std::size_t record = At(frame.record);
  for (const std::size_t s : slots_of_record_[record]) {
    Slot& slot = slots_[s];
    const ColumnValue v = ReadColumn(*slot.columns[record], *frame.fields, written);
    if (!v.present) continue;
    slot.previous = slot.value;
    slot.previous_ms = slot.at_ms;
    slot.has_previous = slot.known;
    slot.value = Number(v);
    slot.at_ms = frame.received_ms;
    slot.known = true;
    slot.fresh = true;
  }
}

std::optional<bool> AlarmEvaluator::Meets(const AlarmCondition& c, double subject) const {
  // A limit taken from a value that no record has carried yet is unknown.
  const auto limit = [this](const AlarmLimit& l) -> std::optional<double> {
    if (l.value < 0) return l.number;
    const Slot& slot = slots_[static_cast<std::size_t>(l.value)];
    if (!slot.known) return std::nullopt;
    return slot.value + l.number;
  };
  const double x = subject * c.scale;
  const std::optional<double> low = limit(c.low);
  if (!low) return std::nullopt;
  const int to_low = Compare(x, *low);
  switch (c.test) {
    case AlarmTest::kBelow:
      return to_low < 0;
    case AlarmTest::kAbove:
      return to_low > 0;
    case AlarmTest::kAtMost:
      return to_low <= 0;
    case AlarmTest::kAtLeast:
      return to_low >= 0;
    case AlarmTest::kOutside:
    case AlarmTest::kInside:
      break;
  }
  const std::optional<double> high = limit(c.high);
  if (!high) return std::nullopt;
  const bool inside = to_low >= 0 && Compare(x, *high) <= 0;
  return c.test == AlarmTest::kInside ? inside : !inside;
}

void AlarmEvaluator::Evaluate(std::size_t index, const DecodedFrame& frame) {
  const AlarmRule& rule = rules_.rules[index];
  const Slot& slot = slots_[static_cast<std::size_t>(rule.value)];
  double subject = slot.value;
  std::optional<bool> met;
  if (rule.kind == AlarmSubject::kIncrease) {
    if (!slot.has_previous) return;
    met = slot.value > slot.previous;
  } else {
    if (rule.kind == AlarmSubject::kRate) {
      // A rate needs two records at different times.
      if (!slot.has_previous || slot.at_ms <= slot.previous_ms) return;
      subject = (slot.value - slot.previous) / static_cast<double>(slot.at_ms - slot.previous_ms);
    }
    met = Meets(rule.raise, subject);
    if (!met) return;
  }
  // The value an event gives: a rate per the unit of the raise condition.
  const double value = subject * rule.raise.scale;
  RuleState& state = states_[index];
  if (!state.raised) {
    state.streak = *met ? state.streak + 1 : 0;
    if (state.streak >= rule.records)
      Change(AlarmChange::kRaised, index, value, frame.received_ms, &frame);
    return;
  }
  const bool ends = rule.clear ? Meets(*rule.clear, subject).value_or(false) : !*met;
  if (ends) Change(AlarmChange::kCleared, index, value, frame.received_ms, &frame);
}

void AlarmEvaluator::Tick(std::int64_t now_ms, bool link_up) {
  if (!watch_start_ms_) watch_start_ms_ = now_ms;
  if (!link_up) {
    link_up_since_ms_.reset();
  } else if (!link_up_since_ms_) {
    link_up_since_ms_ = now_ms;
  }
  CheckSilences(now_ms);
}

void AlarmEvaluator::CheckSilences(std::int64_t now_ms) {
  for (const std::size_t i : silence_rules_) {
    const AlarmRule& rule = rules_.rules[i];
    if (states_[i].raised) continue;
    // Quiet since the last frame from the satellite, or since the watch began.
    std::int64_t since = std::max(last_satellite_ms_.value_or(*watch_start_ms_), *watch_start_ms_);
    if (rule.while_link_up) {
      if (!link_up_since_ms_) continue;
      since = std::max(since, *link_up_since_ms_);
    }
    if (now_ms - since < rule.silence_ms) continue;
    states_[i].quiet_since_ms = since;
    // Raised when the limit ran out, which a replay only sees at the next frame;
    // no frame caused it.
    const double limit = static_cast<double>(rule.silence_ms) / rule.silence_unit_ms;
    Change(AlarmChange::kRaised, i, limit, since + rule.silence_ms, nullptr);
  }
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
