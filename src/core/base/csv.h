#pragma once
// CSV fields with the usual quoting, for the files people open in a spreadsheet.

#include <array>
#include <string>
#include <string_view>

#include "base/text_builder.h"

namespace zevrin {

/// The characters that make a CSV field quoted: comma, quote and line breaks.
inline constexpr std::array<bool, 256> kCsvSpecial = [] {
  std::array<bool, 256> special{};
  for (const char c : {',', '"', '\r', '\n'}) special[static_cast<unsigned char>(c)] = true;
  return special;
}();

/// Appends `text` as one CSV field: as it is, or, when it holds a comma, quote or
/// line break, in quotes with its quotes doubled.
inline void AppendCsvField(TextBuilder& out, std::string_view text) {
  // Copied as it is while it is checked; nearly every field is plain.
  char* p = out.Room(text.size());
  bool special = false;
  for (const char c : text) {
    special |= kCsvSpecial[static_cast<unsigned char>(c)];
    *p++ = c;
  }
  if (!special) {
    out.Commit(p);
    return;
  }
  out.Append('"');
  for (const char c : text) {
    if (c == '"') out.Append('"');
    out.Append(c);
  }
  out.Append('"');
}

/// `text` as one CSV field, quoted as AppendCsvField does.
inline std::string CsvField(std::string_view text) {
  TextBuilder field;
  AppendCsvField(field, text);
  return std::string(field.view());
}

}  // namespace zevrin
