// The values the alarm rules use, read from the display-field store after each
// housekeeping record. This runs at every record, so it reads a field's text only
// when the store has replaced it, and a number handed over with the text rather
// than the text itself.

#include <bit>
#include <cstring>

#include "alarms/alarm_evaluator.h"

namespace zevrin {

namespace {

// The number handed over with a text is the value where the column reads the
// text as that number: any number for a real column, a whole one for a column
// of whole numbers.
bool IsValue(const FieldNumber& number, bool any_number, bool whole_number) {
  return number.known && (any_number || (whole_number && number.whole));
}

}  // namespace

// The first and the last bytes of the text, in two loads that overlap for a
// text shorter than both: together they hold every byte of it.
AlarmEvaluator::Texts::Words AlarmEvaluator::Texts::Packed(std::string_view t) {
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

void AlarmEvaluator::IndexFields() {
  for (std::size_t record = 0; record < field_reads_.size(); ++record) {
    for (std::size_t r = 0; r < field_reads_[record].size(); ++r) {
      const FieldRead& read = field_reads_[record][r];
      Slot& slot = slots_[read.slot];
      const auto field = static_cast<std::size_t>(read.field);
      slot.field_of[record] = static_cast<std::int8_t>(read.field);
      watched_[record][field / 64] |= std::uint64_t{1} << (field % 64);
      watched_any_[field / 64] |= std::uint64_t{1} << (field % 64);
      read_of_field_[record][field] = static_cast<std::uint8_t>(r);
      if (slot.rated) rated_reads_[record].push_back(r);
    }
  }
}

AlarmEvaluator::FieldWords AlarmEvaluator::WordsOf(const std::bitset<kDisplayFieldCount>& fields) {
  static constexpr std::bitset<kDisplayFieldCount> kWord{~std::uint64_t{0}};
  FieldWords words{};
  for (std::size_t w = 0; w < kFieldWords; ++w)
    words[w] = ((fields >> (64 * w)) & kWord).to_ullong();
  return words;
}

void AlarmEvaluator::NoteReplaced(const DisplayFields& store) {
  if (&store != store_) {
    // Another store: none of its texts has been taken.
    store_ = &store;
    replaced_ = watched_;
    return;
  }
  const FieldWords replaced = WordsOf(store.FieldsReplaced());
  std::uint64_t any = 0;
  for (std::size_t w = 0; w < kFieldWords; ++w) any |= replaced[w] & watched_any_[w];
  if (any == 0) return;  // most frames replace no field the rules read
  for (std::size_t record = 0; record < replaced_.size(); ++record) {
    for (std::size_t w = 0; w < kFieldWords; ++w)
      replaced_[record][w] |= replaced[w] & watched_[record][w];
  }
}

void AlarmEvaluator::FrameDecoded(const DecodedFrame& frame) {
  // Most frames only move the last sign of the satellite on: no silence runs out,
  // none is raised, and the frame is not older than the last.
  const std::int64_t now = frame.received_ms;
  if (now < next_silence_ms_ && silences_raised_ == 0 && link_up_since_ms_ &&
      now >= last_satellite_ms_.value_or(now)) [[likely]] {
    if (frame.from_satellite) last_satellite_ms_ = now;
  } else {
    WatchSilences(frame);
  }
  if (frame.fields == nullptr) return;
  NoteReplaced(*frame.fields);
  const auto record = static_cast<std::size_t>(frame.record);
  if (record < reads_values_.size() && reads_values_[record]) {
    ReadValues(frame);
    EvaluateRules(frame);
  }
}

void AlarmEvaluator::ReadOther(Read& read, const DecodedFrame& frame) {
  const DisplayFields& store = *frame.fields;
  const ArchiveColumn& column = *read.column;
  const auto at = static_cast<std::size_t>(column.index);
  // A box's or a gauge's version tells a text taken before; a colour has none.
  std::uint64_t version = 0;
  if (column.source == ValueSource::kBox) {
    if (!store.BoxesWritten()[at]) return;
    version = store.BoxVersion(static_cast<Box>(column.index));
  } else if (column.source == ValueSource::kGauge) {
    if (!store.GaugesWritten()[at]) return;
    version = store.GaugeVersion(static_cast<Gauge>(column.index));
  }
  Slot& slot = slots_[read.slot];
  const double before = slot.value;
  const bool was_known = slot.known;
  if (version == 0 || version != read.version) {
    // A gauge's level comes with its text, as a field's number does.
    const FieldNumber* number = column.source == ValueSource::kGauge
                                    ? &store.GaugeNumber(static_cast<Gauge>(column.index))
                                    : nullptr;
    if (number != nullptr && IsValue(*number, false, column.numeric())) {
      slot.value = number->value;
    } else if (!TakeColumnText(read.slot, column, store)) {
      return;
    }
    read.version = version;
    Took(read.slot, before, was_known);
  }
  MarkCarried(slot, before, was_known, frame.received_ms);
}

void AlarmEvaluator::ReadValues(const DecodedFrame& frame) {
  const DisplayFields& store = *frame.fields;
  const auto record = static_cast<std::size_t>(frame.record);
  ++records_;
  // A text replaced since it was last taken is taken when a record carries it.
  const auto& written = store.FieldsWritten();
  const FieldWords written_words = WordsOf(written);
  const FieldRead* reads = field_reads_[record].data();
  const std::array<std::uint8_t, kDisplayFieldCount>& read_of = read_of_field_[record];
  for (std::size_t w = 0; w < kFieldWords; ++w) {
    std::uint64_t due = replaced_[record][w] & written_words[w];
    replaced_[record][w] &= ~written_words[w];
    for (; due != 0; due &= due - 1) {
      TakeReplaced(reads[read_of[64 * w + static_cast<std::size_t>(std::countr_zero(due))]], store);
    }
  }
  // A rate's value is judged at every record that carries it, changed or not.
  for (const std::size_t r : rated_reads_[record]) {
    const FieldRead& read = field_reads_[record][r];
    Slot& slot = slots_[read.slot];
    if (!written[static_cast<std::size_t>(read.field)] || slot.unreadable) continue;
    // Unless this record took it, the value before is the one it carries.
    const bool taken = slot.taken_in == records_;
    slot.previous = Pick(taken, slot.previous, slot.value);
    slot.has_previous = (taken & slot.has_previous) | (!taken & slot.known);
    slot.previous_ms = slot.at_ms;
    slot.at_ms = frame.received_ms;
    slot.read_in = records_;
  }
  for (Read& read : other_reads_[record]) ReadOther(read, frame);
}

void AlarmEvaluator::TakeReplaced(const FieldRead& read, const DisplayFields& store) {
  Slot& slot = slots_[read.slot];
  const double before = slot.value;
  if (const FieldNumber& number = store.Number(read.field);
      IsValue(number, read.any_number, read.whole_number)) {
    slot.value = number.value;
  } else if (!TakeText(read.slot, store.Field(read.field), *read.column)) {
    slot.unreadable = true;
    return;
  }
  slot.unreadable = false;
  Took(read.slot, before, slot.known);
}

bool AlarmEvaluator::TakeColumnText(std::size_t slot, const ArchiveColumn& column,
                                    const DisplayFields& store) {
  const std::optional<std::string_view> text =
      WrittenColumnText(column, store, FrameWriteSet(store));
  return text && TakeText(slot, *text, column);
}

bool AlarmEvaluator::Carried(std::size_t rule, RecordKind record,
                             const DisplayFields& store) const {
  const Slot& slot = slots_[states_[rule].value];
  const std::int8_t field = slot.field_of[static_cast<std::size_t>(record)];
  return slot.read_in == records_ ||
         (field >= 0 && store.FieldsWritten()[static_cast<std::size_t>(field)] && !slot.unreadable);
}

bool AlarmEvaluator::TakeText(std::size_t index, std::string_view text,
                              const ArchiveColumn& column) {
  Texts& texts = texts_[index];
  const Texts::Words words = Texts::Packed(text);
  unsigned held = 0;  // bit k: the kept text k is this one
  for (std::size_t k = 0; k < texts.kept.size(); ++k) {
    const Texts::Text& t = texts.kept[k];
    const bool same =
        ((text.size() ^ t.size) | (words[0] ^ t.words[0]) | (words[1] ^ t.words[1])) == 0;
    held |= static_cast<unsigned>(same) << k;
  }
  if (held != 0) {
    slots_[index].value = texts.kept[static_cast<std::size_t>(std::countr_zero(held))].value;
    return true;
  }
  const ColumnValue v = ColumnValueOfText(column, text);
  if (!v.present) return false;
  const double value = v.is_integer ? static_cast<double>(v.integer) : v.real;
  slots_[index].value = value;
  if (text.size() <= Texts::kTextKept) {
    texts.kept[texts.next_out] = {words, text.size(), value};
    texts.next_out = (texts.next_out + 1) % texts.kept.size();
  }
  return true;
}

void AlarmEvaluator::Took(std::size_t index, double before, bool was_known) {
  Slot& slot = slots_[index];
  slot.previous = before;
  slot.has_previous = was_known;
  slot.taken_in = records_;
  slot.known = true;
  if (!(was_known && slot.value == before) && !slot.InBand(slot.value)) QueueReaders(index);
}

void AlarmEvaluator::MarkCarried(Slot& slot, double before, bool was_known, std::int64_t now_ms) {
  if (slot.rated) {
    slot.previous = before;
    slot.previous_ms = slot.at_ms;
    slot.has_previous = was_known;
    slot.at_ms = now_ms;
  }
  slot.read_in = records_;
}

void AlarmEvaluator::QueueReaders(std::size_t index) {
  const double value = slots_[index].value;
  for (const std::size_t r : readers_[index]) {
    // A rule's band is one of its own value; a limit it takes from this one moved.
    const RuleState& state = states_[r];
    if (state.value != index || !(value >= state.band_low && value <= state.band_high)) Queue(r);
  }
}

void AlarmEvaluator::RefreshBand(std::size_t index) {
  Slot& slot = slots_[index];
  slot.band_low = -std::numeric_limits<double>::infinity();
  slot.band_high = std::numeric_limits<double>::infinity();
  for (const std::size_t r : readers_[index]) {
    // A rule that takes a limit from this value is told of every change of it.
    const bool own = states_[r].value == index;
    slot.band_low = std::max(slot.band_low, own ? states_[r].band_low : 1.0);
    slot.band_high = std::min(slot.band_high, own ? states_[r].band_high : 0.0);
  }
}

}  // namespace zevrin
