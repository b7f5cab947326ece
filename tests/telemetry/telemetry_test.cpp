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

TEST(TelemetryConversions, EdgesOfYearsWeekdaysPointersAndGauges) {
  const auto hex = [](std::uint32_t raw) {
    return PointerHexText(MemoryPointerValue(raw)).value_or("none");
  };
  const auto gauge = [](std::uint32_t raw, std::uint32_t base) {
    const std::optional<int> level = GaugeLevel(MemoryPointerValue(raw), base);
    return level ? GaugePercentText(*level) : std::string("none");
  };
  // Years 12 to 99 are 19xx, the others 20xx. Above 2^24 a pointer keeps 24 significant
  // bits, ties to even (0x7FFFFFFF becomes 2^31); a gauge rounds half percents to even.
  // clang-format off
  const std::pair<std::string, const char*> examples[] = {
      {SatelliteTimeText(0, 0, 0, 5, 1, 11), "05.01.2011 00:00:00"},
      {SatelliteTimeText(0, 0, 0, 1, 1, 12), "01.01.1912 00:00:00"},
      {std::string(WeekdayText(7)), "Sunday"}, {std::string(WeekdayText(8)), "?"},
      {hex(0x01000003), "1000004"}, {hex(0x7FFFFFFF), "none"},
      {gauge(kGpsMemoryBase + 32767u * 3072u, kGpsMemoryBase), "32767%"},
      {gauge(kGpsMemoryBase + 32767u * 3072u + 1536u, kGpsMemoryBase), "none"}};
  // clang-format on
  for (const auto& [got, want] : examples) EXPECT_EQ(got, want);
}

// `payload` (its first byte at position 19) with `bytes` put at consecutive positions from `pos`.
Bytes Put(Bytes payload, int pos, std::initializer_list<std::uint8_t> bytes) {
  for (const std::uint8_t b : bytes) payload.at(static_cast<std::size_t>(pos++ - 19)) = b;
  return payload;
}

// Zeros up to position 119 with type letter 'S' and the markers of a power (0x29, 0x14)
// or system (0x17, 0x40) record.
Bytes Record(bool power) {
  const std::uint8_t first = power ? 0x29 : 0x17, second = power ? 0x14 : 0x40;
  return Put(Put(Put(Bytes(101), 21, {'S'}), 25, {first}), 89, {second});
}

class TelemetryDecoderTest : public ::testing::Test {
 protected:
  // Sends a UI frame through the real header decoding, KISS escapes included.
  void Decode(const Bytes& payload) {
    DecodeFrameHeader(sample::KissFrame(sample::SatelliteFrame(payload)), frame_, header_);
    fields_.BeginFrame();
    decoder_.DecodeSatelliteFrame(frame_, header_);
  }

  DisplayFields fields_;
  TelemetryDecoder decoder_{fields_};
  UnescapedFrame frame_;
  FrameHeader header_;
};

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
      {kPw, 42, {255}, 14, "5.00"}, {kPw, 54, {128}, 26, "-128.0"},
      {kPw, 99, {0x34, 0x12}, 33, "4660"}, {kPw, 101, {0xFF, 0xFF}, 34, "65535"},
      // Threshold colours follow the text shown, two's complement included.
      {kPw, 61, {200}, 41, "-56", kGreen}, {kPw, 61, {199}, 41, "-57", kRed},
      {kPw, 63, {178}, 43, "3.49", kGreen}, {kPw, 63, {177}, 43, "3.47", kRed},
      {kPw, 63, {179}, 43, "3.51", kRed},
      {kSys, 31, {0x12, 0x34}, 60, "4660"}, {kSys, 102, {0x80, 0x00}, 77, "-16384"}};
  // clang-format on
  for (const auto& c : cases) {
    Decode(Put(Record(c.power), c.pos, c.bytes));
    EXPECT_EQ(fields_.Field(c.field), c.text) << "position " << c.pos;
    EXPECT_EQ(fields_.Colour(c.field), c.colour) << "position " << c.pos;
  }
  Decode(Put(Record(true), 89, {0x40}));  // the markers of two kinds: no record
  EXPECT_EQ(decoder_.last_record(), RecordKind::kNone);
  EXPECT_TRUE(fields_.Writes().fields.empty());
}

// A record repeated writes its values again, journal and observer included, and
// whatever changed a target in between is overwritten: another writer, Clear,
// another frame.
TEST_F(TelemetryDecoderTest, ARepeatedRecordWritesEveryValueAgainOverAnyOtherWrite) {
  const Bytes power = Put(Record(true), 63, {178});
  Decode(power);
  const FrameWrites first = fields_.Writes();
  const std::string frame_type = fields_.BoxText(Box::kFrameType);
  const std::uint64_t version = fields_.FieldVersion(43);

  Decode(power);  // the same bytes: the same texts, versions and journal
  EXPECT_EQ(fields_.Writes().fields, first.fields);
  EXPECT_EQ(fields_.Writes().boxes, first.boxes);
  EXPECT_EQ(fields_.Writes().coloured, first.coloured);
  EXPECT_EQ(fields_.FieldVersion(43), version);

  fields_.WriteField(43, "9.99");
  fields_.WriteBox(Box::kFrameType, kNotSatelliteText);
  Decode(power);
  EXPECT_EQ(fields_.Field(43), "3.49");
  EXPECT_EQ(fields_.Colour(43), FieldColour::kGreen);
  EXPECT_EQ(fields_.BoxText(Box::kFrameType), frame_type);

  fields_.Clear();
  Decode(power);
  EXPECT_EQ(fields_.Field(43), "3.49");
  EXPECT_EQ(fields_.BoxText(Box::kFrameType), frame_type);

  Decode(Put(Record(true), 63, {177}));
  EXPECT_EQ(fields_.Field(43), "3.47");
  Decode(power);
  EXPECT_EQ(fields_.Field(43), "3.49");

  // A copy of the store hands out versions of its own: equal versions, equal texts.
  DisplayFields copy = fields_;
  copy.WriteField(43, "1.00");
  fields_.WriteField(43, "2.00");
  EXPECT_NE(copy.FieldVersion(43), fields_.FieldVersion(43));
}

}  // namespace
}  // namespace zevrin
