// The silences of the satellite: time without a frame from it, judged from the
// frames' times and from the ticks of a live station.

#include <algorithm>

#include "alarms/alarm_evaluator.h"

namespace zevrin {

void AlarmEvaluator::WatchSilences(const DecodedFrame& frame) {
  const std::int64_t now = frame.received_ms;
  // A frame shows the link is up, also where no tick says so (a replay).
  if (!watch_start_ms_ || !link_up_since_ms_) [[unlikely]] {
    RecheckSilences();
    if (!watch_start_ms_) watch_start_ms_ = now;
    if (!link_up_since_ms_) link_up_since_ms_ = now;
  }
  if (now >= next_silence_ms_) CheckSilences(now);
  if (!frame.from_satellite) return;
  if (silences_raised_ > 0) [[unlikely]] {
    for (const std::size_t i : silence_rules_) {
      if (!states_[i].raised) continue;
      const double quiet = static_cast<double>(now - states_[i].quiet_since_ms);
      Change(AlarmChange::kCleared, i, quiet / rules_.rules[i].silence_unit_ms, now, &frame);
      RecheckSilences();
    }
  }
  // A later frame only puts the silences off; an earlier one (a recording older
  // than the last) may bring them forward.
  if (last_satellite_ms_ && now < *last_satellite_ms_) RecheckSilences();
  last_satellite_ms_ = now;
}

void AlarmEvaluator::Tick(std::int64_t now_ms, bool link_up) {
  if (!watch_start_ms_ || link_up != link_up_since_ms_.has_value()) RecheckSilences();
  if (!watch_start_ms_) watch_start_ms_ = now_ms;
  if (!link_up) {
    link_up_since_ms_.reset();
  } else if (!link_up_since_ms_) {
    link_up_since_ms_ = now_ms;
  }
  if (now_ms >= next_silence_ms_) CheckSilences(now_ms);
}

void AlarmEvaluator::CheckSilences(std::int64_t now_ms) {
  next_silence_ms_ = std::numeric_limits<std::int64_t>::max();
  for (const std::size_t i : silence_rules_) {
    const AlarmRule& rule = rules_.rules[i];
    if (states_[i].raised) continue;
    // Quiet since the last frame from the satellite, or since the watch began.
    std::int64_t since = std::max(last_satellite_ms_.value_or(*watch_start_ms_), *watch_start_ms_);
    if (rule.while_link_up) {
      if (!link_up_since_ms_) continue;
      since = std::max(since, *link_up_since_ms_);
    }
    if (now_ms - since < rule.silence_ms) {
      next_silence_ms_ = std::min(next_silence_ms_, since + rule.silence_ms);
      continue;
    }
    states_[i].quiet_since_ms = since;
    // Raised when the limit ran out, which a replay only sees at the next frame;
    // no frame caused it.
    const double limit = static_cast<double>(rule.silence_ms) / rule.silence_unit_ms;
    Change(AlarmChange::kRaised, i, limit, since + rule.silence_ms, nullptr);
  }
}

}  // namespace zevrin
