#include "decode/json.h"

#include <array>
#include <cstdint>

namespace zevrin::json {

namespace {

// What a byte becomes inside a JSON string.
enum Kind : std::uint8_t {
  kItself,   // printable ASCII
  kShort,    // backslash and a letter: \" \\ \n \r \t
  kUnicode,  // \u00XX: the other control characters and DEL
  kTwoByte,  // 0x80 to 0xFF: the Latin-1 character in two UTF-8 bytes
};

struct Escapes {
  std::array<Kind, 256> kind{};
  std::array<char, 256> letter{};
};

constexpr Escapes kEscapes = [] {
  Escapes e;
  for (int c = 0; c < 256; ++c) {
    e.kind[c] = c < 0x20 || c == 0x7F ? kUnicode : c >= 0x80 ? kTwoByte : kItself;
  }
  constexpr std::pair<char, char> kShortOnes[] = {
      {'"', '"'}, {'\\', '\\'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'}};
  for (const auto& [c, letter] : kShortOnes) {
    e.kind[static_cast<unsigned char>(c)] = kShort;
    e.letter[static_cast<unsigned char>(c)] = letter;
  }
  return e;
}();

// The longest any byte becomes: \u00XX.
constexpr std::size_t kMaxEscapedLength = 6;

}  // namespace

void AppendLatin1String(OutputText& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  char* p = out.Room(text.size() * kMaxEscapedLength + 2);
  *p++ = '"';
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (kEscapes.kind[c]) {
      case kItself:
        *p++ = ch;
        break;
      case kShort:
        p[0] = '\\';
        p[1] = kEscapes.letter[c];
        p += 2;
        break;
      case kUnicode:
        p[0] = '\\';
        p[1] = 'u';
        p[2] = '0';
        p[3] = '0';
        p[4] = kHex[c >> 4];
        p[5] = kHex[c & 0x0F];
        p += 6;
        break;
      case kTwoByte:
        p[0] = static_cast<char>(0xC0 | (c >> 6));
        p[1] = static_cast<char>(0x80 | (c & 0x3F));
        p += 2;
        break;
    }
  }
  *p++ = '"';
  out.Commit(p);
}

}  // namespace zevrin::json
