#include "telemetry/conversions.h"

#include <gtest/gtest.h>

#include <bitset>
#include <cstdint>
#include <string>

namespace zevrin {
namespace {

// The nearest n / den in hundredths as "i.ff"; no value of a byte is a tie here.
std::string Hundredths(long long num, long long den) {
  const long long n = (2 * num + den) / (2 * den);
  std::string text = std::to_string(n / 100).append(".");
  if (n % 100 < 10) text.append("0");
  return text.append(std::to_string(n % 100));
}

TEST(TelemetryConversions, EveryByteAgainstItsFormula) {
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
  EXPECT_EQ(VoltsText(255), "5.00");
  EXPECT_EQ(VoltsText(178), "3.49");
  EXPECT_EQ(VoltsText(1), "0.02");
  EXPECT_EQ(CurrentText(255), "1600.00");
  EXPECT_EQ(CurrentText(1), "6.27");
  EXPECT_EQ(CurrentText(100), "627.45");
  EXPECT_EQ(TemperatureText(200), "-56.0");
  EXPECT_EQ(TemperatureText(128), "-128.0");  // two's complement: 0x80 is -128
  EXPECT_EQ(TemperatureText(129), "-127.0");
  EXPECT_EQ(ByteToBits(0xA5), "10100101");
}

TEST(TelemetryConversions, HalfDegreeOverEveryWord) {
  for (int v = 0; v < 65536; ++v) {
    const auto word = static_cast<std::uint16_t>(v);
    const int t = static_cast<std::int16_t>(word);
    ASSERT_EQ(WordToSigned(word), t);
    std::string expected = t < 0 ? "-" : "";
    expected.append(std::to_string((t < 0 ? -t : t) / 2)).append(t % 2 ? ".5" : "");
    ASSERT_EQ(HalfDegreeText(word), expected) << v;
  }
  EXPECT_EQ(HalfDegreeText(0x0033), "25.5");
  EXPECT_EQ(HalfDegreeText(0xFFFE), "-1");
  EXPECT_EQ(HalfDegreeText(0x8000), "-16384");
  EXPECT_EQ(HalfDegreeText(0x8001), "-16383.5");
  EXPECT_EQ(NumberText(0.5f), "0.5");
  EXPECT_EQ(NumberText(1e7f), "10000000");
  EXPECT_EQ(NumberText(-0.0f), "0");
}

TEST(TelemetryConversions, SatelliteTimeYearRuleAndPadding) {
  EXPECT_EQ(SatelliteTimeText(9, 5, 14, 20, 6, 9), "20.06.2009 14:05:09");
  EXPECT_EQ(SatelliteTimeText(0, 0, 0, 5, 1, 11), "05.01.2011 00:00:00");
  EXPECT_EQ(SatelliteTimeText(0, 0, 0, 1, 1, 12), "01.01.1912 00:00:00");
  EXPECT_EQ(SatelliteTimeText(0, 0, 0, 1, 1, 99), "01.01.1999 00:00:00");
  EXPECT_EQ(SatelliteTimeText(255, 100, 24, 0, 13, 255), "00.13.2155 24:100:255");
  EXPECT_EQ(WeekdayText(7), "Sunday");
  EXPECT_EQ(WeekdayText(8), "?");
  EXPECT_EQ(AdcsModeText(9), "SUN_TEST");
  EXPECT_EQ(AdcsModeText(10), "???");
}

TEST(TelemetryConversions, MemoryPointersAndGauges) {
  const auto hex = [](std::uint32_t raw) {
    return PointerHexText(MemoryPointerValue(raw)).value_or("none");
  };
  EXPECT_EQ(hex(0x163600), "163600");
  EXPECT_EQ(hex(0), "0");
  EXPECT_EQ(hex(0x7FFFFF80), "7FFFFF80");
  // Above 2^24 the pointer keeps 24 significant bits, ties to even.
  EXPECT_EQ(hex(0x01000001), "1000000");
  EXPECT_EQ(hex(0x01000003), "1000004");
  EXPECT_EQ(hex(0x7FFFFFFF), "none");  // rounds up to 2^31
  EXPECT_EQ(hex(0x80000000), "none");
  EXPECT_EQ(hex(0xFFFFFFFF), "none");

  const auto gauge = [](std::uint32_t raw, std::uint32_t base) {
    return GaugePercentText(MemoryPointerValue(raw), base).value_or("none");
  };
  EXPECT_EQ(gauge(0x163600, kGpsMemoryBase), "0%");
  EXPECT_EQ(gauge(0x1AE600, kGpsMemoryBase), "100%");
  EXPECT_EQ(gauge(0, kGpsMemoryBase), "-474%");
  EXPECT_EQ(gauge(0, kXhkMemoryBase), "-576%");
  EXPECT_EQ(gauge(0x1B0600, kXhkMemoryBase), "0%");       // half a percent goes to the even 0
  EXPECT_EQ(gauge(0x1B1200, kXhkMemoryBase), "2%");       // one and a half to the even 2
  EXPECT_EQ(gauge(0x01000001, kGpsMemoryBase), "4988%");  // 4987.5 from 16777216
  EXPECT_EQ(gauge(kGpsMemoryBase + 32767u * 3072u, kGpsMemoryBase), "32767%");
  EXPECT_EQ(gauge(kGpsMemoryBase + 32767u * 3072u + 1536u, kGpsMemoryBase), "none");
  EXPECT_EQ(gauge(0xFFFFFFFF, kXhkMemoryBase), "none");
}

}  // namespace
}  // namespace zevrin
