#include "telemetry/display_fields.h"

#include <gtest/gtest.h>

namespace zevrin {
namespace {

TEST(DisplayFieldsTable, NoTwoVisibleFieldsShareAPlace) {
  const auto& table = DisplayFieldTable();
  for (int i = 0; i < kDisplayFieldCount; ++i) {
    for (int j = i + 1; j < kDisplayFieldCount; ++j) {
      const FieldInfo& a = table[i];
      const FieldInfo& b = table[j];
      if (a.group == FieldGroup::kHidden || a.group == FieldGroup::kCom) continue;
      EXPECT_FALSE(a.group == b.group && a.column == b.column && a.row == b.row) << i << " " << j;
    }
  }
}

}  // namespace
}  // namespace zevrin
