// The conversions into engineering units, and the housekeeping records decoded into
// the display fields.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bitset>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sample/sample_pass.h"
#include "telemetry/conversions.h"
#include "telemetry/display_fields.h"
#include "telemetry/telemetry_decoder.h"

namespace zevrin {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::Contains;
using ::testing::Not;

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

TEST(TelemetryConversions, ExamplesPointersAndGauges) {
  const auto hex = [](std::uint32_t raw) {
    return PointerHexText(MemoryPointerValue(raw)).value_or("none");
  };
  const auto gauge = [](std::uint32_t raw, std::uint32_t base) {
    return GaugePercentText(MemoryPointerValue(raw), base).value_or("none");
  };
  // Years 12 to 99 are 19xx, the others 20xx; numbers as the shortest text of a float.
  // Above 2^24 a pointer keeps 24 significant bits, ties to even (0x7FFFFFFF becomes 2^31);
  // a gauge rounds half percents to even (0.5 to 0, 1.5 to 2, 4987.5 to 4988).
  // clang-format off
  const std::pair<std::string, const char*> examples[] = {
      {NumberText(0.5f), "0.5"}, {NumberText(1e7f), "10000000"}, {NumberText(-0.0f), "0"},
      {SatelliteTimeText(9, 5, 14, 20, 6, 9), "20.06.2009 14:05:09"},
      {SatelliteTimeText(0, 0, 0, 5, 1, 11), "05.01.2011 00:00:00"},
      {SatelliteTimeText(0, 0, 0, 1, 1, 12), "01.01.1912 00:00:00"},
      {SatelliteTimeText(0, 0, 0, 1, 1, 99), "01.01.1999 00:00:00"},
      {SatelliteTimeText(255, 100, 24, 0, 13, 255), "00.13.2155 24:100:255"},
      {std::string(WeekdayText(7)), "Sunday"}, {std::string(WeekdayText(8)), "?"},
      {std::string(AdcsModeText(9)), "SUN_TEST"}, {std::string(AdcsModeText(10)), "???"},
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
  for (const auto& [got, want] : examples) EXPECT_EQ(got, want);
}

// `payload` (its first byte at position 19) with `bytes` put at consecutive positions from `pos`.
Bytes Put(Bytes payload, int pos, std::initializer_list<std::uint8_t> bytes) {
  for (const std::uint8_t b : bytes) payload.at(static_cast<std::size_t>(pos++ - 19)) = b;
  return payload;
}

// Zeros up to `last_pos` with type letter 'S' and the markers of a power (0x29, 0x14) or
// system (0x17, 0x40) record, as far as they fit.
Bytes Record(bool power, int last_pos = 119) {
  Bytes p = Put(Bytes(static_cast<std::size_t>(last_pos - 18)), 21, {'S'});
  p = Put(std::move(p), 25, {static_cast<std::uint8_t>(power ? 0x29 : 0x17)});
  return last_pos < 89 ? p
                       : Put(std::move(p), 89, {static_cast<std::uint8_t>(power ? 0x14 : 0x40)});
}

class TelemetryDecoderTest : public ::testing::Test {
 protected:
  // Sends a UI frame through the real header decoding, KISS escapes included.
  void Decode(const Bytes& payload, sample::Address source = {"QQ0SAT"},
              sample::Address destination = {"QQ0GND"}) {
    sample::Ax25Frame f = sample::SatelliteFrame(payload);
    f.source = std::move(source);
    f.destination = std::move(destination);
    DecodeFrameHeader(sample::KissFrame(f), frame_, header_);
    fields_.BeginFrame();
    decoder_.DecodeSatelliteFrame(frame_, header_);
  }

  DisplayFields fields_;
  TelemetryDecoder decoder_{fields_};
  UnescapedFrame frame_;
  FrameHeader header_;
};

TEST_F(TelemetryDecoderTest, OtherStationsOnlyNameTheFrameType) {
  Decode(Record(true));
  ASSERT_EQ(decoder_.last_record(), RecordKind::kPower);
  Decode(Record(true), {"QQ0SAT", 1});  // the satellite's call with another SSID
  EXPECT_EQ(fields_.BoxText(Box::kFrameType), "no TARVELO packets");
  EXPECT_EQ(fields_.Writes().boxes, std::vector<Box>{Box::kFrameType});
  EXPECT_TRUE(fields_.Writes().fields.empty());
  EXPECT_FALSE(decoder_.last_was_satellite());
  EXPECT_EQ(decoder_.last_record(), RecordKind::kNone);
  // From the satellite to anyone but the ground station: nothing at all.
  Decode(Record(true), {"QQ0SAT"}, {"QQ0GND", 1});
  EXPECT_TRUE(fields_.Writes().boxes.empty() && fields_.Writes().fields.empty());
}

TEST_F(TelemetryDecoderTest, PayloadHeaderAndRecordChoice) {
  // Frame number, type, counter and header word.
  const auto boxes = [&] {
    return fields_.BoxText(Box::kFrameNumber) + "|" + fields_.BoxText(Box::kFrameType) + "|" +
           fields_.BoxText(Box::kCounter) + "|" + fields_.BoxText(Box::kHeaderWord);
  };
  Decode({0x00, 0x2A, 0x53, 0x07, 0x01, 0x00});
  EXPECT_EQ(boxes(), "42|Housekeeping Data|7|256");
  Decode({0xFF, 0xFF, 0x73, 0x08, 0xFF, 0xFF});
  EXPECT_EQ(boxes(), "65535|unknown Data Frame|8|65535");

  // Other type letters, or a mixed pair of markers, write the four boxes only.
  for (const Bytes& p : {Put(Record(true), 21, {'I'}), Put(Record(true), 21, {'s'}),
                         Put(Record(true), 89, {0x40})}) {
    Decode(p);
    EXPECT_EQ(fields_.Writes().boxes.size(), 4u);
    EXPECT_TRUE(fields_.Writes().fields.empty()) << p[2];
    EXPECT_EQ(decoder_.last_record(), RecordKind::kNone);
  }
}

TEST_F(TelemetryDecoderTest, RecordFieldsAndThresholdColours) {
  constexpr bool kPw = true, kSys = false;
  constexpr FieldColour kGreen = FieldColour::kGreen, kRed = FieldColour::kRed;
  const struct {
    bool power;
    int pos;
    std::initializer_list<std::uint8_t> bytes;
    int field;
    std::string_view text;
    FieldColour colour = FieldColour::kNormal;
  } cases[] = {// clang-format off
      {kPw, 26, {0xFF}, 0, "BOOT"}, {kPw, 26, {2}, 0, "???"}, {kPw, 27, {255}, 1, "255"},
      {kPw, 31, {9}, 5, "9"}, {kPw, 29, {4}, 3, "???"}, {kPw, 29, {1}, 3, "POWERSAFE"},
      {kPw, 51, {2}, 23, "???"}, {kPw, 52, {17}, 24, "17"}, {kPw, 36, {1}, 8, "0.02"},
      {kPw, 42, {255}, 14, "5.00"}, {kPw, 45, {100}, 17, "627.45"}, {kPw, 46, {255}, 18, "5.00"}, {kPw, 53, {1}, 25, "6.27"},
      {kPw, 54, {128}, 26, "-128.0"}, {kPw, 60, {255}, 32, "-1.0"},
      {kPw, 99, {0x34, 0x12}, 33, "4660"}, {kPw, 101, {0xFF, 0xFF}, 34, "65535"},
      {kPw, 103, {0x01, 0x00}, 35, "1"}, {kPw, 105, {0x00, 0x01}, 36, "256"},
      {kPw, 90, {0xFF}, 37, "BOOT"}, {kPw, 90, {0}, 37, "NOMINAL"}, {kPw, 90, {7}, 37, "NOMINAL"},
      // Escaped payload bytes are read unescaped.
      {kPw, 27, {0xC0}, 1, "192"}, {kPw, 28, {0xDB}, 2, "219"},
      // Threshold colours follow the text shown, two's complement included.
      {kPw, 61, {200}, 41, "-56", kGreen}, {kPw, 61, {199}, 41, "-57", kRed},
      {kPw, 61, {128}, 41, "-128", kRed}, {kPw, 62, {200}, 42, "-56", kGreen},
      {kPw, 63, {178}, 43, "3.49", kGreen}, {kPw, 63, {177}, 43, "3.47", kRed},
      {kPw, 63, {179}, 43, "3.51", kRed}, {kPw, 64, {170}, 44, "3.33", kGreen},
      {kPw, 64, {0}, 44, "0.00", kRed},
      {kSys, 25, {0x17}, 54, "23"}, {kSys, 31, {0x12, 0x34}, 60, "4660"},
      {kSys, 40, {200}, 61, "-56.0"}, {kSys, 41, {0xFF, 0xFF}, 62, "65535"},
      {kSys, 47, {4}, 65, "4"}, {kSys, 90, {0}, 67, "???"}, {kSys, 90, {6}, 67, "GPS ORB"},
      {kSys, 92, {0xA5}, 69, "10100101"}, {kSys, 97, {0x01}, 74, "00000001"},
      {kSys, 98, {0x00, 0x33}, 75, "25.5"}, {kSys, 100, {0xFF, 0xFE}, 76, "-1"},
      {kSys, 102, {0x80, 0x00}, 77, "-16384"}, {kSys, 104, {0x80, 0x01}, 78, "-16383.5"},
      {kSys, 110, {0, 0x16, 0x36, 0}, 81, "163600"}, {kSys, 114, {0, 0x1B, 0x12, 0}, 82, "1B1200"},
      {kSys, 119, {3}, 84, "3"}};
  // clang-format on
  for (const auto& c : cases) {
    Decode(Put(Record(c.power), c.pos, c.bytes));
    EXPECT_EQ(fields_.Field(c.field), c.text) << "position " << c.pos;
    EXPECT_EQ(fields_.Colour(c.field), c.colour) << "position " << c.pos;
  }
  // Each record writes only its own fields, and colours only the four thresholds.
  for (const bool power : {kPw, kSys}) {
    Decode(Record(power));
    for (const int f : power ? std::vector{6, 7, 38, 40, 45, 54, 67, 69, 91}
                             : std::vector{0, 23, 37, 41, 66, 68}) {
      EXPECT_THAT(fields_.Writes().fields, Not(Contains(f))) << f;
    }
    EXPECT_EQ(fields_.Writes().coloured,
              (power ? std::vector{41, 42, 43, 44} : std::vector<int>{}));
  }
}

TEST_F(TelemetryDecoderTest, SatelliteTimeGaugesAndUnshowableValues) {
  Decode(Put(Put(Record(false), 33, {9, 5, 14, 6, 20, 6, 9}), 110,
             {0x00, 0x1A, 0xE6, 0x00, 0x00, 0x1B, 0x06, 0x00}));
  EXPECT_EQ(decoder_.last_record(), RecordKind::kSystem);
  EXPECT_EQ(fields_.BoxText(Box::kSatelliteTime), "20.06.2009 14:05:09");
  EXPECT_EQ(fields_.BoxText(Box::kWeekday), "Saturday");
  EXPECT_EQ(fields_.GaugeText(Gauge::kGps) + " " + fields_.GaugeText(Gauge::kXhk), "100% 0%");
  Decode(Record(false));  // weekday 0: "?", the time is still written
  EXPECT_EQ(fields_.BoxText(Box::kWeekday), "?");
  EXPECT_EQ(fields_.BoxText(Box::kSatelliteTime), "00.00.2000 00:00:00");

  // A pointer of 2^31 or more, or a gauge beyond 32767 %, keeps its field or gauge.
  Decode(Put(Record(false), 110, {0x80, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 5}));
  EXPECT_EQ(fields_.Field(81), "0");
  EXPECT_EQ(fields_.Field(82), "7000000");
  EXPECT_EQ(fields_.Field(83), "5");
  EXPECT_EQ(fields_.GaugeText(Gauge::kGps) + " " + fields_.GaugeText(Gauge::kXhk), "-474% -576%");
  EXPECT_TRUE(fields_.Writes().gauges.empty());
}

TEST_F(TelemetryDecoderTest, BytesBeyondTheFrameAreNotWritten) {
  Decode(Put(Put(Put(Record(false), 98, {1, 1, 1, 1}), 110, {1, 1, 1, 1}), 119, {1}));
  ASSERT_EQ(fields_.Field(76), "128.5");
  ASSERT_EQ(fields_.Field(81), "1010100");  // 0x01010101 held in single precision

  // The record ends at position 100: the pair 100-101 and all after keep their text.
  Decode(Put(Record(false, 100), 98, {0x00, 0x02, 0x00}));
  EXPECT_EQ(decoder_.last_record(), RecordKind::kSystem);
  EXPECT_EQ(fields_.Field(75), "1");
  EXPECT_EQ(fields_.Field(76), "128.5");
  EXPECT_EQ(fields_.Field(81), "1010100");
  EXPECT_EQ(fields_.Field(84), "1");
  EXPECT_EQ(fields_.Writes().fields.back(), 75);

  // A record cut before its second marker is not decoded at all.
  Decode(Record(false, 88));
  EXPECT_EQ(decoder_.last_record(), RecordKind::kNone);
  EXPECT_TRUE(fields_.Writes().fields.empty());

  // A frame shorter than the payload header writes only the boxes it holds.
  Decode({0, 9});
  EXPECT_EQ(fields_.BoxText(Box::kFrameNumber), "9");
  EXPECT_EQ(fields_.Writes().boxes, std::vector<Box>{Box::kFrameNumber});
}

}  // namespace
}  // namespace zevrin
