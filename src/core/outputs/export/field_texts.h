#pragma once
// The texts the text outputs print for the display fields, worked out once.

#include <array>
#include <string>
#include <vector>

#include "telemetry/display_fields.h"

namespace zevrin {

struct FieldTexts {
  /// The caption people see beside a field; the link group's "Mode" is told apart
  /// from the operating mode.
  std::array<std::string, kDisplayFieldCount> label;
  /// A line of the monitor format's values: "  caption: " before the value, the
  /// unit after it (" V"; empty when none).
  std::array<std::string, kDisplayFieldCount> line_start;
  std::array<std::string, kDisplayFieldCount> line_unit;
  /// The fields the window shows, in index order; hidden ones are left out.
  std::vector<int> visible;
};

/// The texts of every display field, built on first use.
const FieldTexts& DisplayFieldTexts();

/// The table entry of the display field `index`.
inline const FieldInfo& FieldInfoOf(int index) {
  return DisplayFieldTable()[static_cast<std::size_t>(index)];
}

}  // namespace zevrin
