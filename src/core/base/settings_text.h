#pragma once
// Checks of the texts of the hand-written "key=value" settings files.

#include <algorithm>
#include <string_view>

namespace zevrin {

/// `text` without the blanks and tabs around it and a carriage return at its end.
inline std::string_view TrimSettingText(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

/// True for a text with a line break: written as a value, it would break the
/// file into more lines.
inline bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

/// True for a text with a control character, which has no place in an address or
/// an HTTP header value.
inline bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

}  // namespace zevrin
