#include "outputs/export/field_texts.h"

namespace zevrin {

const FieldTexts& DisplayFieldTexts() {
  static const FieldTexts texts = [] {
    FieldTexts t;
    for (int index = 0; index < kDisplayFieldCount; ++index) {
      const FieldInfo& info = FieldInfoOf(index);
      std::string& label = t.label[static_cast<std::size_t>(index)];
      if (info.group == FieldGroup::kCom) label = "COM ";
      label += info.caption;
      t.line_start[static_cast<std::size_t>(index)] = std::string("  ").append(label).append(": ");
      if (!info.unit.empty()) {
        t.line_unit[static_cast<std::size_t>(index)] = std::string(" ").append(info.unit);
      }
      if (info.group != FieldGroup::kHidden) t.visible.push_back(index);
    }
    return t;
  }();
  return texts;
}

}  // namespace zevrin
