#include "outputs/export/json.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace zevrin::json {

namespace {

// What each byte becomes inside a JSON string: itself (printable ASCII), a
// backslash and a letter (\" \\ \n \r \t), \u00XX (the other control characters
// and DEL), or the Latin-1 character in two UTF-8 bytes (0x80 to 0xFF). Kept in
// eight bytes each, so that any byte is written with one move and no branch.
struct Escaped {
  std::array<char, 7> text{};
  std::uint8_t size = 0;
};

constexpr std::array<Escaped, 256> kEscaped = [] {
  constexpr char kHex[] = "0123456789abcdef";
  std::array<Escaped, 256> table{};
  for (int c = 0; c < 256; ++c) {
    Escaped& e = table[static_cast<std::size_t>(c)];
    if (c >= 0x80) {
      e.text = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
      e.size = 2;
    } else if (c < 0x20 || c == 0x7F) {
      e.text = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0x0F]};
      e.size = 6;
    } else {
      e.text = {static_cast<char>(c)};
      e.size = 1;
    }
  }
  constexpr std::pair<char, char> kShortOnes[] = {
      {'"', '"'}, {'\\', '\\'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'}};
  for (const auto& [c, letter] : kShortOnes) {
    table[static_cast<unsigned char>(c)] = {{'\\', letter}, 2};
  }
  return table;
}();
static_assert(sizeof(Escaped) == 8);

// The longest any byte becomes: \u00XX; its move writes two bytes more.
constexpr std::size_t kMaxEscapedLength = 6;
constexpr std::size_t kMoveSlack = sizeof(Escaped) - kMaxEscapedLength;

// True when any of the eight bytes of `word` is not printable ASCII or is a quote
// or a backslash: bytes below 0x20, 0x22, 0x5C, and 0x7F and above.
bool NeedsEscapes(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  const auto any_zero = [&](std::uint64_t w) { return (w - kOnes) & ~w & kHigh; };
  const std::uint64_t below_blank = (word - kOnes * 0x20) & ~word & kHigh;
  const std::uint64_t quote = any_zero(word ^ (kOnes * '"'));
  const std::uint64_t backslash = any_zero(word ^ (kOnes * '\\'));
  const std::uint64_t from_del = ((word + kOnes) | word) & kHigh;
  return (below_blank | quote | backslash | from_del) != 0;
}

// Eight bytes that need no escape.
constexpr std::uint64_t kPlainBytes = 0x4141414141414141;

// Writes the bytes from `from` to `to` at `p`, escaped; returns the new end. The
// room must reach kMoveSlack bytes past the longest result.
char* Escape(char* p, const char* from, const char* to) {
  for (; from < to; ++from) {
    const Escaped& e = kEscaped[static_cast<unsigned char>(*from)];
    std::memcpy(p, &e, sizeof(Escaped));  // the text, and its size after it
    p += e.size;
  }
  return p;
}

// The last bytes, fewer than eight and most of a short value, checked as one
// word too: built from loads that overlap (two of four bytes, or the first,
// middle and last byte), which together hold every byte. The copies overlap the
// same way, writing the same bytes twice.
char* AppendRest(char* p, const char* s, const char* end) {
  const auto rest = static_cast<std::size_t>(end - s);
  if (rest >= 4) {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::memcpy(&first, s, 4);
    std::memcpy(&last, end - 4, 4);
    if (NeedsEscapes(first | static_cast<std::uint64_t>(last) << 32)) return Escape(p, s, end);
    std::memcpy(p, &first, 4);
    std::memcpy(p + rest - 4, &last, 4);
    return p + rest;
  }
  if (rest == 0) return p;
  const auto a = static_cast<unsigned char>(s[0]);
  const auto b = static_cast<unsigned char>(s[rest / 2]);
  const auto c = static_cast<unsigned char>(s[rest - 1]);
  constexpr std::uint64_t kAbove = ~std::uint64_t{0xFFFFFF};
  if (NeedsEscapes((kPlainBytes & kAbove) | a | b << 8 | static_cast<std::uint64_t>(c) << 16)) {
    return Escape(p, s, end);
  }
  p[0] = static_cast<char>(a);
  p[rest / 2] = static_cast<char>(b);
  p[rest - 1] = static_cast<char>(c);
  return p + rest;
}

}  // namespace

void AppendLatin1String(TextBuilder& out, std::string_view text) {
  char* p = out.Room(text.size() * kMaxEscapedLength + 2 + kMoveSlack);
  *p++ = '"';
  const char* s = text.data();
  const char* const end = s + text.size();
  // Nearly all text is printable ASCII: eight bytes at a time are checked and,
  // when none needs an escape, copied as they are.
  constexpr std::size_t kWord = sizeof(std::uint64_t);
  for (; static_cast<std::size_t>(end - s) >= kWord; s += kWord) {
    std::uint64_t word;
    std::memcpy(&word, s, kWord);
    if (NeedsEscapes(word)) {
      p = Escape(p, s, s + kWord);
    } else {
      std::memcpy(p, s, kWord);
      p += kWord;
    }
  }
  p = AppendRest(p, s, end);
  *p++ = '"';
  out.Commit(p);
}

void AppendNumber(TextBuilder& out, double value) {
  if (!std::isfinite(value)) {
    out.Append("null");
    return;
  }
  constexpr std::size_t kRoom = 32;
  char* at = out.Room(kRoom);
  out.Commit(std::to_chars(at, at + kRoom, value).ptr);
}

}  // namespace zevrin::json
