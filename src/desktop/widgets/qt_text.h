#pragma once
// The core's UTF-8 texts and colours as Qt takes them.

#include <QColor>
#include <QString>
#include <string_view>

#include "base/colours.h"

namespace zevrin {

inline QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline QColor ToQColor(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

}  // namespace zevrin
