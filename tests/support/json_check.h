#pragma once
// A strict JSON syntax check (RFC 8259 grammar, UTF-8 well-formedness), so tests
// and the fuzzer can tell that every line the decoder prints is valid JSON.

#include <cstddef>
#include <string_view>

namespace zevrin::testing {

class JsonCheck {
 public:
  /// True when `text` is exactly one JSON value, with optional white space around it.
  static bool IsValid(std::string_view text) {
    JsonCheck c(text);
    c.Space();
    if (!c.Value(0)) return false;
    c.Space();
    return c.pos_ == text.size();
  }

 private:
  explicit JsonCheck(std::string_view text) : s_(text) {}

  bool Value(int depth) {
    if (depth > 64 || pos_ >= s_.size()) return false;
    switch (s_[pos_]) {
      case '{':
        return Members(depth, '}');
      case '[':
        return Members(depth, ']');
      case '"':
        return String();
      case 't':
        return Word("true");
      case 'f':
        return Word("false");
      case 'n':
        return Word("null");
      default:
        return Number();
    }
  }
  // The members of an object ("key": value) or the elements of an array, up to `close`.
  bool Members(int depth, char close) {
    ++pos_;
    Space();
    if (Peek(close)) return ++pos_, true;
    for (;;) {
      Space();
      if (close == '}') {
        if (!Peek('"') || !String()) return false;
        Space();
        if (!Peek(':')) return false;
        ++pos_;
        Space();
      }
      if (!Value(depth + 1)) return false;
      Space();
      if (Peek(close)) return ++pos_, true;
      if (!Peek(',')) return false;
      ++pos_;
    }
  }
  bool String() {
    ++pos_;
    while (pos_ < s_.size()) {
      const auto c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"') return ++pos_, true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++pos_ >= s_.size()) return false;
        const char e = s_[pos_];
        if (e == 'u') {
          for (int i = 0; i < 4; ++i) {
            if (++pos_ >= s_.size() || !IsHex(s_[pos_])) return false;
          }
        } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
          return false;
        }
        ++pos_;
      } else if (c >= 0x80) {
        if (!Utf8()) return false;
      } else {
        ++pos_;
      }
    }
    return false;
  }
  bool Utf8() {
    const auto c = static_cast<unsigned char>(s_[pos_]);
    int extra = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c <= 0xDF ? 1 : -1;
    if (extra < 0 || c > 0xF4) return false;
    for (++pos_; extra > 0; --extra, ++pos_) {
      if (pos_ >= s_.size() || (static_cast<unsigned char>(s_[pos_]) & 0xC0) != 0x80) return false;
    }
    return true;
  }
  bool Number() {
    const std::size_t start = pos_;
    if (Peek('-')) ++pos_;
    if (Peek('0')) {
      ++pos_;
    } else if (!Digits()) {
      return false;
    }
    if (Peek('.')) {
      ++pos_;
      if (!Digits()) return false;
    }
    if (Peek('e') || Peek('E')) {
      ++pos_;
      if (Peek('+') || Peek('-')) ++pos_;
      if (!Digits()) return false;
    }
    return pos_ > start;
  }
  bool Digits() {
    const std::size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
    return pos_ > start;
  }
  bool Word(std::string_view w) {
    if (s_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }
  static bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }
  bool Peek(char c) const { return pos_ < s_.size() && s_[pos_] == c; }
  void Space() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
      ++pos_;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

}  // namespace zevrin::testing
