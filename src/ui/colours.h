#pragma once
// Every colour the program shows, by role, in one place.

#include <cstdint>

#include "frames/monitor.h"

namespace zevrin {

struct Rgb {
  std::uint8_t r, g, b;
  friend constexpr bool operator==(Rgb, Rgb) = default;
};

inline constexpr Rgb kMonitorGrey{128, 128, 128};
inline constexpr Rgb kMonitorBlack{0, 0, 0};
inline constexpr Rgb kMonitorBlue{0, 0, 255};
/// Threshold field showing its reference value.
inline constexpr Rgb kThresholdGreen{192, 255, 192};
/// Threshold field showing any other value.
inline constexpr Rgb kThresholdRed{255, 192, 192};
/// Background of the status and About windows.
inline constexpr Rgb kWindowGrey{224, 224, 224};
/// Title line of the status windows.
inline constexpr Rgb kTitleBlue{0, 0, 192};

/// The monitor colour of a text role.
constexpr Rgb MonitorColour(ColourRole role) {
  switch (role) {
    case ColourRole::kSummary:
    case ColourRole::kControl:
      return kMonitorGrey;
    case ColourRole::kDump:
      return kMonitorBlue;
    case ColourRole::kSeparator:
    case ColourRole::kAddress:
      break;
  }
  return kMonitorBlack;
}

}  // namespace zevrin
