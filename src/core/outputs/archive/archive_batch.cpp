#include "outputs/archive/archive_batch.h"

#include "outputs/archive/archive_columns.h"

namespace zevrin {

namespace {

constexpr std::size_t kNamesKept = 16;

}  // namespace

std::uint32_t ArchiveBatch::NameIndex(std::string_view name) {
  for (std::size_t i = names_.size(); i-- > 0;) {
    if (names_[i] == name) return static_cast<std::uint32_t>(i);
  }
  names_.emplace_back(name);
  return static_cast<std::uint32_t>(names_.size() - 1);
}

void ArchiveBatch::Add(const DecodedFrame& frame) {
  Entry e{};
  e.received_ms = frame.received_ms;
  e.bytes_begin = static_cast<std::uint32_t>(bytes_.size());
  e.bytes_size = static_cast<std::uint32_t>(frame.bytes.size());
  bytes_.insert(bytes_.end(), frame.bytes.begin(), frame.bytes.end());
  e.station = NameIndex(frame.station);
  e.link = NameIndex(frame.link);
  e.replayed = frame.replayed;
  e.time_source = frame.time_source;
  e.record = frame.fields != nullptr ? frame.record : RecordKind::kNone;
  e.values_begin = static_cast<std::uint32_t>(values_.size());
  const std::span<const ArchiveColumn* const> columns = RecordColumns(e.record);
  if (!columns.empty()) {
    const FrameWriteSet written(frame.fields->Writes());
    for (const ArchiveColumn* column : columns) {
      const ColumnValue v = ReadColumn(*column, *frame.fields, written);
      StoredValue& s = values_.emplace_back();
      if (!v.present) continue;
      if (column->kind == ValueKind::kText) {
        s.type = StoredValue::Type::kText;
        s.text_begin = static_cast<std::uint32_t>(texts_.size());
        s.text_size = static_cast<std::uint32_t>(v.text.size());
        texts_ += v.text;
      } else if (v.is_integer) {
        s.type = StoredValue::Type::kInteger;
        s.integer = v.integer;
      } else {
        s.type = StoredValue::Type::kReal;
        s.real = v.real;
      }
    }
  }
  e.values_size = static_cast<std::uint32_t>(values_.size()) - e.values_begin;
  frames_.push_back(e);
}

void ArchiveBatch::Clear() {
  frames_.clear();
  bytes_.clear();
  values_.clear();
  texts_.clear();
  // The next batch almost always has the same names; a run through many files
  // (one link name each) starts the list over rather than searching a long one.
  if (names_.size() > kNamesKept) names_.clear();
}

DecodedFrame ArchiveBatch::Frame(std::size_t i) const {
  const Entry& e = frames_[i];
  DecodedFrame frame;
  frame.bytes = std::span<const std::uint8_t>(bytes_).subspan(e.bytes_begin, e.bytes_size);
  frame.received_ms = e.received_ms;
  frame.station = names_[e.station];
  frame.link = names_[e.link];
  frame.replayed = e.replayed;
  frame.time_source = e.time_source;
  frame.record = e.record;
  return frame;
}

std::span<const StoredValue> ArchiveBatch::Values(std::size_t i) const {
  const Entry& e = frames_[i];
  return std::span<const StoredValue>(values_).subspan(e.values_begin, e.values_size);
}

}  // namespace zevrin
