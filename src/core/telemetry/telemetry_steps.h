#pragma once
// The steps of the telemetry decoder as data: for each value of the frame header
// and the two housekeeping records, its bytes, how they become a text and where
// the text goes.

#include <cstdint>
#include <string_view>

#include "telemetry/display_fields.h"

namespace zevrin::telemetry_steps {

enum class Conversion : std::uint8_t {
  kDecimal,          // unsigned, high byte first
  kDecimalLowFirst,  // unsigned 16 bits, low byte first
  kPayloadType,
  kOperatingMode,
  kPowerLevel,
  kHeater,
  kLinkMode,  // unknown bytes write nothing
  kVolts,
  kCurrent,
  kTemperature,
  kSignedNumber,
  kHalfDegree,
  kBits,
  kAdcsMode,
  kWeekday,
  kSatelliteTime,  // seven bytes: second, minute, hour, weekday, day, month, year
  kPointerHex,
  kGpsGauge,
  kXhkGauge,
};

enum class TargetKind : std::uint8_t { kField, kBox, kGauge };

struct Target {
  TargetKind kind;
  int index;
};

constexpr Target Field(int index) { return {TargetKind::kField, index}; }
constexpr Target ToBox(Box box) { return {TargetKind::kBox, static_cast<int>(box)}; }
constexpr Target ToGauge(Gauge gauge) { return {TargetKind::kGauge, static_cast<int>(gauge)}; }

// One value: its bytes, how it is turned into a text, where the text goes. A
// non-empty `green_text` colours the field after the write: green when the
// field then reads exactly that text, red otherwise.
struct Step {
  int position;
  int width;
  Conversion conversion;
  Target target;
  std::string_view green_text = {};
};

constexpr Step kHeaderSteps[] = {
    {19, 2, Conversion::kDecimal, ToBox(Box::kFrameNumber)},
    {21, 1, Conversion::kPayloadType, ToBox(Box::kFrameType)},
    {22, 1, Conversion::kDecimal, ToBox(Box::kCounter)},
    {23, 2, Conversion::kDecimal, ToBox(Box::kHeaderWord)},
};

// Threshold references: a heater threshold of -56 degrees (shown as the number
// -56, whose only text is "-56") and the two battery thresholds.
constexpr std::string_view kHeaterThresholdReference = "-56";

constexpr Step kPowerSteps[] = {
    {26, 1, Conversion::kOperatingMode, Field(0)},
    {27, 1, Conversion::kDecimal, Field(1)},
    {28, 1, Conversion::kDecimal, Field(2)},
    {29, 1, Conversion::kPowerLevel, Field(3)},
    {30, 1, Conversion::kDecimal, Field(4)},
    {31, 1, Conversion::kDecimal, Field(5)},
    {36, 1, Conversion::kVolts, Field(8)},
    {37, 1, Conversion::kCurrent, Field(9)},
    {38, 1, Conversion::kVolts, Field(10)},
    {39, 1, Conversion::kCurrent, Field(11)},
    {40, 1, Conversion::kVolts, Field(12)},
    {41, 1, Conversion::kCurrent, Field(13)},
    {42, 1, Conversion::kVolts, Field(14)},
    {43, 1, Conversion::kCurrent, Field(15)},
    {44, 1, Conversion::kVolts, Field(16)},
    {45, 1, Conversion::kCurrent, Field(17)},
    {46, 1, Conversion::kVolts, Field(18)},
    {47, 1, Conversion::kCurrent, Field(19)},
    {48, 1, Conversion::kCurrent, Field(20)},
    {49, 1, Conversion::kCurrent, Field(21)},
    {50, 1, Conversion::kCurrent, Field(22)},
    {51, 1, Conversion::kHeater, Field(23)},
    {52, 1, Conversion::kDecimal, Field(24)},
    {53, 1, Conversion::kCurrent, Field(25)},
    {54, 1, Conversion::kTemperature, Field(26)},
    {55, 1, Conversion::kTemperature, Field(27)},
    {56, 1, Conversion::kTemperature, Field(28)},
    {57, 1, Conversion::kTemperature, Field(29)},
    {58, 1, Conversion::kTemperature, Field(30)},
    {59, 1, Conversion::kTemperature, Field(31)},
    {60, 1, Conversion::kTemperature, Field(32)},
    {99, 2, Conversion::kDecimalLowFirst, Field(33)},
    {101, 2, Conversion::kDecimalLowFirst, Field(34)},
    {103, 2, Conversion::kDecimalLowFirst, Field(35)},
    {105, 2, Conversion::kDecimalLowFirst, Field(36)},
    {90, 1, Conversion::kLinkMode, Field(37)},
    {61, 1, Conversion::kSignedNumber, Field(41), kHeaterThresholdReference},
    {62, 1, Conversion::kSignedNumber, Field(42), kHeaterThresholdReference},
    {63, 1, Conversion::kVolts, Field(43), "3.49"},
    {64, 1, Conversion::kVolts, Field(44), "3.33"},
};

constexpr Step kSystemSteps[] = {
    {25, 1, Conversion::kDecimal, Field(54)},
    {26, 1, Conversion::kDecimal, Field(55)},
    {27, 1, Conversion::kDecimal, Field(56)},
    {28, 1, Conversion::kDecimal, Field(57)},
    {29, 1, Conversion::kDecimal, Field(58)},
    {30, 1, Conversion::kDecimal, Field(59)},
    {31, 2, Conversion::kDecimal, Field(60)},
    {33, 7, Conversion::kSatelliteTime, ToBox(Box::kSatelliteTime)},
    {36, 1, Conversion::kWeekday, ToBox(Box::kWeekday)},
    {40, 1, Conversion::kTemperature, Field(61)},
    {41, 2, Conversion::kDecimal, Field(62)},
    {43, 2, Conversion::kDecimal, Field(63)},
    {45, 2, Conversion::kDecimal, Field(64)},
    {47, 1, Conversion::kDecimal, Field(65)},
    {90, 1, Conversion::kAdcsMode, Field(67)},
    {92, 1, Conversion::kBits, Field(69)},
    {93, 1, Conversion::kBits, Field(70)},
    {94, 1, Conversion::kBits, Field(71)},
    {95, 1, Conversion::kBits, Field(72)},
    {96, 1, Conversion::kBits, Field(73)},
    {97, 1, Conversion::kBits, Field(74)},
    {98, 2, Conversion::kHalfDegree, Field(75)},
    {100, 2, Conversion::kHalfDegree, Field(76)},
    {102, 2, Conversion::kHalfDegree, Field(77)},
    {104, 2, Conversion::kHalfDegree, Field(78)},
    {106, 2, Conversion::kHalfDegree, Field(79)},
    {108, 2, Conversion::kHalfDegree, Field(80)},
    {110, 4, Conversion::kPointerHex, Field(81)},
    {110, 4, Conversion::kGpsGauge, ToGauge(Gauge::kGps)},
    {114, 4, Conversion::kPointerHex, Field(82)},
    {114, 4, Conversion::kXhkGauge, ToGauge(Gauge::kXhk)},
    {118, 1, Conversion::kDecimal, Field(83)},
    {119, 1, Conversion::kDecimal, Field(84)},
};

}  // namespace zevrin::telemetry_steps
