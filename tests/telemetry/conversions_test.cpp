#include "telemetry/conversions.h"

#include <gtest/gtest.h>

#include <bitset>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

namespace zevrin {
namespace {

// The nearest n / den in hundredths as "i.ff"; no value of a byte is a tie here.
std::string Hundredths(long long num, long long den) {
  const long long n = (2 * num + den) / (2 * den);
  return std::to_string(n / 100).append(n % 100 < 10 ? ".0" : ".").append(std::to_string(n % 100));
}

TEST(TelemetryConversions, EveryByteAndWordAgainstItsFormula) {
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    const auto signed_byte = static_cast<std::int8_t>(byte);
    EXPECT_EQ(ByteToSigned(byte), signed_byte);
    // b * 5 / 255 V = b / 51 V; b * 1.6 / 255 * 1000 mA = b * 320 / 51 mA.
    EXPECT_EQ(VoltsText(byte), Hundredths(b * 100LL, 51)) << b;
    EXPECT_EQ(CurrentText(byte), Hundredths(b * 32000LL, 51)) << b;
    EXPECT_EQ(TemperatureText(byte), std::to_string(signed_byte).append(".0")) << b;
    EXPECT_EQ(ByteToBits(byte), std::bitset<8>(static_cast<unsigned>(b)).to_string()) << b;
  }
  for (int v = 0; v < 65536; ++v) {
    const int t = static_cast<std::int16_t>(v);
    ASSERT_EQ(WordToSigned(static_cast<std::uint16_t>(v)), t);
    ASSERT_EQ(HalfDegreeText(static_cast<std::uint16_t>(v)),
              std::string(t < 0 ? "-" : "")
                  .append(std::to_string(std::abs(t) / 2))
                  .append(t % 2 ? ".5" : ""))
        << v;
  }
}

TEST(TelemetryConversions, Examples) {
  // Years 12 to 99 are 19xx, the others 20xx; numbers as the shortest text of a float.
  // clang-format off
  const std::pair<std::string, const char*> examples[] = {
      {VoltsText(178), "3.49"}, {CurrentText(100), "627.45"}, {TemperatureText(128), "-128.0"},
      {NumberText(0.5f), "0.5"}, {NumberText(1e7f), "10000000"}, {NumberText(-0.0f), "0"},
      {SatelliteTimeText(9, 5, 14, 20, 6, 9), "20.06.2009 14:05:09"},
      {SatelliteTimeText(0, 0, 0, 5, 1, 11), "05.01.2011 00:00:00"},
      {SatelliteTimeText(0, 0, 0, 1, 1, 12), "01.01.1912 00:00:00"},
      {SatelliteTimeText(0, 0, 0, 1, 1, 99), "01.01.1999 00:00:00"},
      {SatelliteTimeText(255, 100, 24, 0, 13, 255), "00.13.2155 24:100:255"},
      {std::string(WeekdayText(7)), "Sunday"}, {std::string(WeekdayText(8)), "?"},
      {std::string(AdcsModeText(9)), "SUN_TEST"}, {std::string(AdcsModeText(10)), "???"}};
  // clang-format on
  for (const auto& [got, want] : examples) EXPECT_EQ(got, want);
}

TEST(TelemetryConversions, MemoryPointersAndGauges) {
  const auto hex = [](std::uint32_t raw) {
    return PointerHexText(MemoryPointerValue(raw)).value_or("none");
  };
  const auto gauge = [](std::uint32_t raw, std::uint32_t base) {
    return GaugePercentText(MemoryPointerValue(raw), base).value_or("none");
  };
  // Above 2^24 a pointer keeps 24 significant bits, ties to even (0x7FFFFFFF becomes 2^31);
  // a gauge rounds half percents to even (0.5 to 0, 1.5 to 2, 4987.5 to 4988).
  // clang-format off
  const std::pair<std::string, const char*> cases[] = {
      {hex(0x163600), "163600"}, {hex(0), "0"}, {hex(0x7FFFFF80), "7FFFFF80"},
      {hex(0x01000001), "1000000"}, {hex(0x01000003), "1000004"}, {hex(0x7FFFFFFF), "none"},
      {hex(0x80000000), "none"}, {hex(0xFFFFFFFF), "none"}, {gauge(0x163600, kGpsMemoryBase), "0%"},
      {gauge(0x1AE600, kGpsMemoryBase), "100%"}, {gauge(0, kGpsMemoryBase), "-474%"},
      {gauge(0, kXhkMemoryBase), "-576%"}, {gauge(0x1B0600, kXhkMemoryBase), "0%"},
      {gauge(0x1B1200, kXhkMemoryBase), "2%"}, {gauge(0x01000001, kGpsMemoryBase), "4988%"},
      {gauge(kGpsMemoryBase + 32767u * 3072u, kGpsMemoryBase), "32767%"},
      {gauge(kGpsMemoryBase + 32767u * 3072u + 1536u, kGpsMemoryBase), "none"},
      {gauge(0xFFFFFFFF, kXhkMemoryBase), "none"}};
  // clang-format on
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace zevrin
