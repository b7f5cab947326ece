#pragma once
// Every colour the program shows, by role, in one place.

#include <cstdint>

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

/// Lines of the history plots, one per value in the order they were added, then
/// again from the start. Distinct on white and for the common colour blindnesses.
inline constexpr Rgb kHistoryLineColours[] = {
    {0, 114, 178},  {213, 94, 0},  {0, 158, 115}, {204, 121, 167},
    {86, 180, 233}, {230, 159, 0}, {0, 0, 0},     {128, 128, 128},
};
/// Reference lines of the battery's powersafe and emergency thresholds.
inline constexpr Rgb kPowersafeLine{128, 64, 160};
inline constexpr Rgb kEmergencyLine{200, 0, 0};
/// The alarm indicator and the severity of a raised alarm, by severity: background
/// and text of watch (pale amber), warning (orange) and critical (red).
inline constexpr Rgb kAlarmWatchBack{255, 236, 150};
inline constexpr Rgb kAlarmWarningBack{255, 160, 40};
inline constexpr Rgb kAlarmCriticalBack{200, 0, 0};
inline constexpr Rgb kAlarmDarkText{0, 0, 0};
inline constexpr Rgb kAlarmLightText{255, 255, 255};
/// The time spans of alarms on a plotted value, drawn see-through.
inline constexpr Rgb kAlarmShade{230, 40, 40};

}  // namespace zevrin
