#pragma once
// Just enough JSON writing for one object per line.

#include <string_view>

#include "base/text_builder.h"

namespace zevrin::json {

/// Appends `text` as a JSON string. Each byte of `text` is taken as the Unicode
/// character of the same number (Latin-1), so any byte sequence gives valid UTF-8;
/// quotes, backslashes and control characters are escaped.
void AppendLatin1String(TextBuilder& out, std::string_view text);

/// Appends `value` as the shortest JSON number that reads back as it; JSON has no
/// infinities and no NaN, so those become null.
void AppendNumber(TextBuilder& out, double value);
/// The number when there is one, else null.
inline void AppendNumberOrNull(TextBuilder& out, bool has, double value) {
  if (has) {
    AppendNumber(out, value);
  } else {
    out.Append("null");
  }
}

}  // namespace zevrin::json
