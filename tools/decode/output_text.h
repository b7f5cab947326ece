#pragma once
// The decode tool's output as it is assembled: one growing block of text that
// is written out in large pieces. Appending checks the room once and copies, so
// no field, number or line costs an allocation of its own.

#include <charconv>
#include <concepts>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "frames/line_text.h"

namespace zevrin {

class OutputText {
 public:
  OutputText() { Grow(kInitialCapacity); }

  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }

  /// Room for `n` more bytes; write them there, then call Commit with the end.
  char* Room(std::size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    return data_.get() + size_;
  }
  void Commit(const char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }

  void Append(std::string_view text) {
    CopyText(Room(text.size()), text.data(), text.size());
    size_ += text.size();
  }
  void Append(char c) {
    *Room(1) = c;
    ++size_;
  }
  template <std::integral T>
  void AppendNumber(T value) {
    constexpr std::size_t kDigits = 24;  // any 64-bit value with its sign
    char* at = Room(kDigits);
    Commit(std::to_chars(at, at + kDigits, value).ptr);
  }

 private:
  static constexpr std::size_t kInitialCapacity = 256 * 1024;

  void Grow(std::size_t n) {
    std::size_t capacity = capacity_ == 0 ? n : capacity_ * 2;
    while (capacity - size_ < n) capacity *= 2;
    auto data = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ > 0) std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
  }

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace zevrin
