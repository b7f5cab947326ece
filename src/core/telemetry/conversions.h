#pragma once
// The value conversions of the housekeeping records: byte to engineering-unit
// text, the name tables, and the number formats they share. All are pure.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/text_builder.h"

namespace zevrin {

/// Two's complement of a byte: b for 0 to 127, b - 256 for 128 to 255.
int ByteToSigned(std::uint8_t b);

/// Two's complement of a 16-bit word: v for 0 to 32767, v - 65536 from 32768.
int WordToSigned(std::uint16_t v);

/// The shortest plain text that reads back as `value`: no exponent, a point as
/// decimal separator, a leading minus, no decimals for an integer (25.5, -1, 16384).
std::string NumberText(float value);

/// `value` with exactly `decimals` decimals (0 to 9), rounded to nearest, and at
/// least one integer digit: the formats "0.0" and "0.00".
std::string FixedText(float value, int decimals);

/// b * 5 / 255 volts, rounded to single precision, in format "0.00".
std::string VoltsText(std::uint8_t b);

/// b * 1.6 / 255 * 1000 milliamperes (in that order, in double precision),
/// rounded to single precision, in format "0.00".
std::string CurrentText(std::uint8_t b);

/// ByteToSigned of b in degrees, in format "0.0".
std::string TemperatureText(std::uint8_t b);

/// The eight bits of b as "0" and "1", most significant first.
std::string ByteToBits(std::uint8_t b);

/// A panel temperature: WordToSigned of the word, halved in single precision,
/// as NumberText (0x0033 gives 25.5, 0xFFFE gives -1).
std::string HalfDegreeText(std::uint16_t v);
/// HalfDegreeText, appended to `text`.
void AppendHalfDegreeText(TextBuilder& text, std::uint16_t v);

/// Name of a payload type letter; "unknown Data Frame" for any other byte.
std::string_view PayloadTypeName(std::uint8_t letter);
/// "BOOT", "TEST", "NOMINAL" or "???".
std::string_view OperatingModeText(std::uint8_t b);
/// "CHARGE", "EMERGENCY", "POWERSAFE", "NOMINAL" or "???".
std::string_view PowerLevelText(std::uint8_t b);
/// "OFF", "ON" or "???".
std::string_view HeaterText(std::uint8_t b);
/// The operating-mode names without a text for unknown bytes: none for them.
std::optional<std::string_view> LinkModeText(std::uint8_t b);
/// "Monday" for 1 to "Sunday" for 7, "?" otherwise.
std::string_view WeekdayText(std::uint8_t b);
/// The attitude-control mode name, "???" for 0 and unknown bytes.
std::string_view AdcsModeText(std::uint8_t b);

/// The satellite clock as "dd.mm.yyyy hh:mm:ss" from its raw bytes. Each part
/// has at least two digits; a year byte below 12 is 2000 + year, else 1900 + year.
std::string SatelliteTimeText(std::uint8_t second, std::uint8_t minute, std::uint8_t hour,
                              std::uint8_t day, std::uint8_t month, std::uint8_t year);
/// SatelliteTimeText, appended to `text`.
void AppendSatelliteTimeText(TextBuilder& text, std::uint8_t second, std::uint8_t minute,
                             std::uint8_t hour, std::uint8_t day, std::uint8_t month,
                             std::uint8_t year);

/// A 32-bit memory pointer held as single precision: exact up to 16777216,
/// rounded to 24 significant bits above.
float MemoryPointerValue(std::uint32_t raw);

/// The pointer in upper-case hex without leading zeros; none from 2^31 on.
std::optional<std::string> PointerHexText(float pointer);

/// Fill level of a memory area, (pointer - base) / 3072 rounded half to even;
/// none when the rounded level is above 32767 (or below -32768).
std::optional<int> GaugeLevel(float pointer, std::uint32_t base);
/// A gauge's level followed by "%".
std::string GaugePercentText(int level);

/// Start addresses of the two memory areas behind the gauges, and their size per percent.
inline constexpr std::uint32_t kGpsMemoryBase = 0x163600;
inline constexpr std::uint32_t kXhkMemoryBase = 0x1B0000;
inline constexpr double kMemoryBytesPerPercent = 3072.0;

}  // namespace zevrin
