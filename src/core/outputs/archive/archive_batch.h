#pragma once
// Frames on their way into the archive. A decoded frame's views point into the
// receiver's storage, which the next frame overwrites; a batch copies out what
// the archive keeps of each frame, so that the frames can be written later, as
// one transaction, or on another thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "outputs/archive/archive_columns.h"
#include "outputs/frame_sink.h"

namespace zevrin {

/// One value of a housekeeping record as the archive stores it; 16 bytes, as a
/// batch holds some fifty of them for every record.
struct StoredValue {
  enum class Type : std::uint8_t { kNull, kInteger, kReal, kText };
  Type type = Type::kNull;
  std::uint32_t text_size = 0;  ///< kText: its length
  union {
    std::int64_t integer = 0;
    double real;
    std::uint32_t text_begin;  ///< kText: where the text lies in the batch
  };
};
static_assert(sizeof(StoredValue) == 16);

class ArchiveBatch {
 public:
  /// Copies the frame's bytes, time, station, link, and the value of every
  /// column of its record's table (NULL where the frame wrote none).
  void Add(const DecodedFrame& frame);

  std::size_t size() const { return frames_.size(); }
  bool empty() const { return frames_.empty(); }
  /// Empties the batch, keeping its storage for the next frames.
  void Clear();

  /// Frame `i` as the archive's extensions see it: bytes, time and its source,
  /// station, link, replayed and record; without header or display-field store.
  DecodedFrame Frame(std::size_t i) const;
  /// The values of frame `i`'s record, one per column of RecordColumns(record);
  /// empty when the frame carried no record.
  std::span<const StoredValue> Values(std::size_t i) const;
  std::string_view Text(const StoredValue& value) const {
    return std::string_view(texts_).substr(value.text_begin, value.text_size);
  }
  std::int64_t Time(std::size_t i) const { return frames_[i].received_ms; }
  /// The reception time of the last frame; 0 when empty.
  std::int64_t LastTime() const { return frames_.empty() ? 0 : frames_.back().received_ms; }

 private:
  struct Entry {
    std::int64_t received_ms;
    std::uint32_t bytes_begin;
    std::uint32_t bytes_size;
    std::uint32_t values_begin;
    std::uint32_t values_size;
    std::uint32_t station;  // index in names_
    std::uint32_t link;
    RecordKind record;
    bool replayed;
    TimeSource time_source;
  };
  std::uint32_t NameIndex(std::string_view name);

  std::vector<Entry> frames_;
  std::vector<std::uint8_t> bytes_;
  std::vector<StoredValue> values_;
  std::string texts_;
  // Station labels and link names: each kept once, as a run has only a few.
  std::vector<std::string> names_;
};

}  // namespace zevrin
