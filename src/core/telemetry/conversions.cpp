#include "telemetry/conversions.h"

#include <array>
#include <charconv>
#include <cmath>

namespace zevrin {

namespace {

// Longest fixed text of a float: 39 integer digits, sign, point, 9 decimals.
constexpr std::size_t kNumberBufferSize = 64;

constexpr std::array<std::string_view, 7> kWeekdays = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

constexpr std::array<std::string_view, 9> kAdcsModes = {
    "SAFE", "DETUMB", "SENSE", "CONTROL", "RESET", "GPS ORB", "GPS GND", "MAG_CALIB", "SUN_TEST"};

constexpr std::array<std::string_view, 4> kPowerLevels = {"NOMINAL", "POWERSAFE", "EMERGENCY",
                                                          "CHARGE"};

constexpr std::array<std::string_view, 2> kHeaterStates = {"OFF", "ON"};

struct PayloadType {
  std::uint8_t letter;
  std::string_view name;
};

constexpr std::array<PayloadType, 5> kPayloadTypes = {{
    {'S', "Housekeeping Data"},
    {'I', "Image Data"},
    {'A', "ADCS Extended HK Data"},
    {'G', "GPS Data"},
    {'M', "GPS Almanach Data"},
}};

constexpr std::string_view kUnknown = "???";

// At least two digits, so 5 gives "05" and 100 gives "100".
void AppendTwoDigits(TextBuilder& out, std::uint8_t value) {
  if (value < 10) out.Append('0');
  out.AppendNumber(static_cast<unsigned>(value));
}

// Round to nearest with a half going to the even neighbour.
double RoundHalfEven(double x) {
  const double lower = std::floor(x);
  const double fraction = x - lower;
  if (fraction > 0.5) return lower + 1.0;
  if (fraction < 0.5) return lower;
  return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

}  // namespace

int ByteToSigned(std::uint8_t b) { return b < 128 ? b : b - 256; }

int WordToSigned(std::uint16_t v) { return v < 32768 ? v : v - 65536; }

std::string NumberText(float value) {
  if (value == 0.0f) value = 0.0f;  // no "-0"
  std::array<char, kNumberBufferSize> buf;
  const auto result =
      std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed);
  return std::string(buf.data(), result.ptr);
}

std::string FixedText(float value, int decimals) {
  std::array<char, kNumberBufferSize> buf;
  const auto result =
      std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
  return std::string(buf.data(), result.ptr);
}

std::string VoltsText(std::uint8_t b) {
  const int scaled = b * 5;
  return FixedText(static_cast<float>(scaled / 255.0), 2);
}

std::string CurrentText(std::uint8_t b) {
  const double milliamperes = static_cast<double>(b) * 1.6 / 255.0 * 1000.0;
  return FixedText(static_cast<float>(milliamperes), 2);
}

std::string TemperatureText(std::uint8_t b) {
  return FixedText(static_cast<float>(ByteToSigned(b)), 1);
}

std::string ByteToBits(std::uint8_t b) {
  std::string bits(8, '0');
  for (int i = 0; i < 8; ++i) {
    if ((b & (0x80 >> i)) != 0) bits[static_cast<std::size_t>(i)] = '1';
  }
  return bits;
}

std::string HalfDegreeText(std::uint16_t v) {
  TextBuilder text;
  AppendHalfDegreeText(text, v);
  return std::string(text.view());
}

void AppendHalfDegreeText(TextBuilder& text, std::uint16_t v) {
  // Every half of a 16-bit word is exact in single precision, and its shortest
  // text is the whole number of halves / 2, then ".5" for an odd number; so it is
  // written from the integer alone, as NumberText would write the float.
  const int halves = WordToSigned(v);
  const int magnitude = halves < 0 ? -halves : halves;
  if (halves < 0) text.Append('-');
  text.AppendNumber(magnitude / 2);
  if (magnitude % 2 != 0) text.Append(".5");
}

std::string_view PayloadTypeName(std::uint8_t letter) {
  for (const PayloadType& type : kPayloadTypes) {
    if (type.letter == letter) return type.name;
  }
  return "unknown Data Frame";
}

std::string_view OperatingModeText(std::uint8_t b) {
  const std::optional<std::string_view> name = LinkModeText(b);
  return name ? *name : kUnknown;
}

std::string_view PowerLevelText(std::uint8_t b) {
  return b < kPowerLevels.size() ? kPowerLevels[b] : kUnknown;
}

std::string_view HeaterText(std::uint8_t b) {
  return b < kHeaterStates.size() ? kHeaterStates[b] : kUnknown;
}

std::optional<std::string_view> LinkModeText(std::uint8_t b) {
  switch (b) {
    case 0xFF:
      return "BOOT";
    case 1:
      return "TEST";
    case 0:
      return "NOMINAL";
    default:
      return std::nullopt;
  }
}

std::string_view WeekdayText(std::uint8_t b) {
  return b >= 1 && b <= kWeekdays.size() ? kWeekdays[b - 1u] : "?";
}

std::string_view AdcsModeText(std::uint8_t b) {
  return b >= 1 && b <= kAdcsModes.size() ? kAdcsModes[b - 1u] : kUnknown;
}

std::string SatelliteTimeText(std::uint8_t second, std::uint8_t minute, std::uint8_t hour,
                              std::uint8_t day, std::uint8_t month, std::uint8_t year) {
  TextBuilder text;
  AppendSatelliteTimeText(text, second, minute, hour, day, month, year);
  return std::string(text.view());
}

void AppendSatelliteTimeText(TextBuilder& text, std::uint8_t second, std::uint8_t minute,
                             std::uint8_t hour, std::uint8_t day, std::uint8_t month,
                             std::uint8_t year) {
  const int full_year = year < 12 ? 2000 + year : 1900 + year;
  AppendTwoDigits(text, day);
  text.Append('.');
  AppendTwoDigits(text, month);
  text.Append('.');
  text.AppendNumber(full_year);
  text.Append(' ');
  AppendTwoDigits(text, hour);
  text.Append(':');
  AppendTwoDigits(text, minute);
  text.Append(':');
  AppendTwoDigits(text, second);
}

float MemoryPointerValue(std::uint32_t raw) { return static_cast<float>(raw); }

std::optional<std::string> PointerHexText(float pointer) {
  // The hex text is taken of a signed 32-bit integer, so 2^31 and above cannot be shown.
  if (!(pointer >= 0.0f && pointer < 2147483648.0f)) return std::nullopt;
  std::array<char, 8> buf;
  const auto result =
      std::to_chars(buf.data(), buf.data() + buf.size(), static_cast<std::uint32_t>(pointer), 16);
  std::string text(buf.data(), result.ptr);
  for (char& c : text) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::optional<int> GaugeLevel(float pointer, std::uint32_t base) {
  const double level =
      RoundHalfEven((static_cast<double>(pointer) - base) / kMemoryBytesPerPercent);
  // The gauge holds a 16-bit signed level.
  if (level > 32767.0 || level < -32768.0) return std::nullopt;
  return static_cast<int>(level);
}

std::string GaugePercentText(int level) {
  std::string text = std::to_string(level);
  text.push_back('%');
  return text;
}

}  // namespace zevrin
