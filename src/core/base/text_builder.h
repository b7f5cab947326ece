#pragma once
// Text built up piece by piece without an allocation for each piece. The
// monitor's lines and the decoded values are short: they are assembled in room
// on the stack. A text that outgrows that room moves to the heap, whose room is
// then kept, so a large output block is built there once and used again; nothing
// is ever cut.

#include <array>
#include <charconv>
#include <concepts>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace zevrin {

/// Copies `n` bytes. The short texts that lines are made of are copied with a
/// few fixed-size moves instead of a call to memcpy.
inline void CopyText(char* to, const char* from, std::size_t n) {
  if (n >= 16) {
    std::memcpy(to, from, n);
  } else if (n >= 8) {  // two eight-byte moves that may overlap
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n > 0) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
}

class TextBuilder {
 public:
  TextBuilder() = default;
  TextBuilder(const TextBuilder&) = delete;
  TextBuilder& operator=(const TextBuilder&) = delete;

  std::string_view view() const { return {data_, size_}; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  /// Empties the text; its room stays.
  void clear() { size_ = 0; }

  /// Room for `n` more characters; write them there, then call Commit with the end.
  char* Room(std::size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    return data_ + size_;
  }
  void Commit(const char* end) { size_ = static_cast<std::size_t>(end - data_); }

  void Append(std::string_view text) {
    CopyText(Room(text.size()), text.data(), text.size());
    size_ += text.size();
  }
  void Append(char c) {
    *Room(1) = c;
    ++size_;
  }
  /// Decimal digits, with a minus sign when negative.
  template <std::integral T>
  void AppendNumber(T value) {
    constexpr std::size_t kDigits = 24;  // any 64-bit value with its sign
    char* at = Room(kDigits);
    Commit(std::to_chars(at, at + kDigits, value).ptr);
  }

 private:
  // Room for the text line of a whole frame (512 bytes) in the dump log.
  static constexpr std::size_t kStackRoom = 528;

  void Grow(std::size_t n) {
    const std::size_t capacity = 2 * (size_ + n);
    auto heap = std::make_unique_for_overwrite<char[]>(capacity);
    std::memcpy(heap.get(), data_, size_);
    heap_ = std::move(heap);
    data_ = heap_.get();
    capacity_ = capacity;
  }

  std::array<char, kStackRoom> stack_;
  std::unique_ptr<char[]> heap_;
  char* data_ = stack_.data();
  std::size_t size_ = 0;
  std::size_t capacity_ = kStackRoom;
};

}  // namespace zevrin
