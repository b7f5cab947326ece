#include "telemetry/telemetry_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "sample/sample_pass.h"
#include "ui/display_fields.h"

namespace zevrin {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kPayloadPos = 19;  // first payload position after a two-address header

// Payload bytes for positions 19 up to `last_pos`, all zero.
Bytes Payload(int last_pos) { return Bytes(static_cast<std::size_t>(last_pos - kPayloadPos + 1)); }

// Puts `bytes` at consecutive positions from `pos`.
void Put(Bytes& payload, int pos, std::initializer_list<std::uint8_t> bytes) {
  for (const std::uint8_t b : bytes) payload.at(static_cast<std::size_t>(pos++ - kPayloadPos)) = b;
}

// A power (markers 0x29, 0x14) or system (0x17, 0x40) record reaching `last_pos`.
Bytes Record(bool power, int last_pos = 119) {
  Bytes p = Payload(last_pos);
  Put(p, 21, {'S'});
  Put(p, 25, {static_cast<std::uint8_t>(power ? 0x29 : 0x17)});
  if (last_pos >= 89) Put(p, 89, {static_cast<std::uint8_t>(power ? 0x14 : 0x40)});
  return p;
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

  struct Case {
    int pos;
    std::initializer_list<std::uint8_t> bytes;
    int field;
    std::string_view text;
  };
  // Decodes one record per case, with the case's bytes, and checks the field's text.
  void ExpectFields(bool power, std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
      Bytes p = Record(power);
      Put(p, c.pos, c.bytes);
      Decode(p);
      EXPECT_EQ(fields_.Field(c.field), c.text) << "position " << c.pos;
    }
  }

  DisplayFields fields_;
  TelemetryDecoder decoder_{fields_};
  UnescapedFrame frame_;
  FrameHeader header_;
};

TEST_F(TelemetryDecoderTest, OtherStationsOnlyNameTheFrameType) {
  Decode(Record(true));
  ASSERT_EQ(decoder_.last_record(), RecordKind::kPower);
  for (const auto& [call, ssid] : {std::pair{"QQ0SAT", 1}, std::pair{"DL1ABC", 0}}) {
    Decode(Record(true), {call, ssid});
    EXPECT_EQ(fields_.BoxText(Box::kFrameType), "no TARVELO packets");
    EXPECT_EQ(fields_.Writes().boxes, std::vector<Box>{Box::kFrameType});
    EXPECT_TRUE(fields_.Writes().fields.empty());
    EXPECT_FALSE(decoder_.last_was_satellite());
    EXPECT_EQ(decoder_.last_record(), RecordKind::kNone);
  }
  // From the satellite to anyone but the ground station: nothing at all.
  for (const auto& [call, ssid] : {std::pair{"QQ0GND", 1}, std::pair{"CQ", 0}}) {
    Decode(Record(true), {"QQ0SAT"}, {call, ssid});
    EXPECT_TRUE(fields_.Writes().boxes.empty());
    EXPECT_TRUE(fields_.Writes().fields.empty());
  }
}

TEST_F(TelemetryDecoderTest, PayloadHeaderAndRecordChoice) {
  Bytes p = Payload(24);
  Put(p, 19, {0x00, 0x2A, 0x53, 0x07, 0x01, 0x00});
  Decode(p);
  EXPECT_EQ(fields_.BoxText(Box::kFrameNumber), "42");
  EXPECT_EQ(fields_.BoxText(Box::kFrameType), "Housekeeping Data");
  EXPECT_EQ(fields_.BoxText(Box::kCounter), "7");
  EXPECT_EQ(fields_.BoxText(Box::kHeaderWord), "256");
  Put(p, 19, {0xFF, 0xFF, 0x73});
  Decode(p);
  EXPECT_EQ(fields_.BoxText(Box::kFrameNumber), "65535");
  EXPECT_EQ(fields_.BoxText(Box::kFrameType), "unknown Data Frame");

  // Other type letters, or a mixed pair of markers, write the four boxes only.
  for (const std::uint8_t letter : {'I', 'A', 'G', 'M', 's'}) {
    Bytes record = Record(true);
    Put(record, 21, {letter});
    Decode(record);
    EXPECT_EQ(fields_.Writes().boxes.size(), 4u);
    EXPECT_TRUE(fields_.Writes().fields.empty()) << letter;
  }
  Bytes mixed = Record(true);
  Put(mixed, 89, {0x40});
  Decode(mixed);
  EXPECT_TRUE(fields_.Writes().fields.empty());
  EXPECT_EQ(decoder_.last_record(), RecordKind::kNone);
}

TEST_F(TelemetryDecoderTest, PowerRecordFields) {
  // clang-format off
  ExpectFields(true, {
      {26, {0xFF}, 0, "BOOT"}, {26, {2}, 0, "???"}, {27, {255}, 1, "255"}, {31, {9}, 5, "9"},
      {29, {4}, 3, "???"}, {29, {1}, 3, "POWERSAFE"}, {51, {2}, 23, "???"}, {52, {17}, 24, "17"},
      {36, {1}, 8, "0.02"}, {45, {100}, 17, "627.45"}, {46, {255}, 18, "5.00"},
      {53, {1}, 25, "6.27"}, {54, {128}, 26, "-128.0"}, {60, {255}, 32, "-1.0"},
      {99, {0x34, 0x12}, 33, "4660"}, {101, {0xFF, 0xFF}, 34, "65535"},
      {103, {0x01, 0x00}, 35, "1"}, {105, {0x00, 0x01}, 36, "256"},
      {90, {0xFF}, 37, "BOOT"}, {90, {0}, 37, "NOMINAL"}, {90, {7}, 37, "NOMINAL"}});
  // clang-format on
  for (int f : {6, 7, 38, 40, 45, 54, 67, 69, 91}) EXPECT_EQ(fields_.Field(f), "") << f;
}

TEST_F(TelemetryDecoderTest, ThresholdColoursFollowTheirText) {
  const struct {
    int pos;
    std::uint8_t value;
    int field;
    std::string_view text;
    FieldColour colour;
  } cases[] = {
      {61, 200, 41, "-56", FieldColour::kGreen},  {61, 199, 41, "-57", FieldColour::kRed},
      {61, 128, 41, "-128", FieldColour::kRed},   {62, 200, 42, "-56", FieldColour::kGreen},
      {63, 178, 43, "3.49", FieldColour::kGreen}, {63, 177, 43, "3.47", FieldColour::kRed},
      {63, 179, 43, "3.51", FieldColour::kRed},   {64, 170, 44, "3.33", FieldColour::kGreen},
      {64, 0, 44, "0.00", FieldColour::kRed},
  };
  for (const auto& c : cases) {
    Bytes p = Record(true);
    Put(p, c.pos, {c.value});
    Decode(p);
    EXPECT_EQ(fields_.Field(c.field), c.text);
    EXPECT_EQ(fields_.Colour(c.field), c.colour) << c.field << " " << int{c.value};
  }
  EXPECT_EQ(fields_.Writes().coloured, (std::vector<int>{41, 42, 43, 44}));
}

TEST_F(TelemetryDecoderTest, SystemRecordFields) {
  // clang-format off
  ExpectFields(false, {
      {25, {0x17}, 54, "23"}, {31, {0x12, 0x34}, 60, "4660"}, {40, {200}, 61, "-56.0"},
      {41, {0xFF, 0xFF}, 62, "65535"}, {47, {4}, 65, "4"}, {90, {0}, 67, "???"},
      {90, {6}, 67, "GPS ORB"}, {92, {0xA5}, 69, "10100101"}, {97, {0x01}, 74, "00000001"},
      {98, {0x00, 0x33}, 75, "25.5"}, {100, {0xFF, 0xFE}, 76, "-1"},
      {102, {0x80, 0x00}, 77, "-16384"}, {104, {0x80, 0x01}, 78, "-16383.5"},
      {110, {0, 0x16, 0x36, 0}, 81, "163600"}, {114, {0, 0x1B, 0x12, 0}, 82, "1B1200"},
      {119, {3}, 84, "3"}});
  // clang-format on
  EXPECT_EQ(fields_.GaugeText(Gauge::kXhk), "-576%");
  for (int f : {0, 23, 37, 41, 66, 68}) EXPECT_EQ(fields_.Field(f), "") << f;

  Bytes p = Record(false);
  Put(p, 33, {9, 5, 14, 6, 20, 6, 9});
  Put(p, 110, {0x00, 0x1A, 0xE6, 0x00, 0x00, 0x1B, 0x06, 0x00});
  Decode(p);
  EXPECT_EQ(decoder_.last_record(), RecordKind::kSystem);
  EXPECT_EQ(fields_.BoxText(Box::kSatelliteTime), "20.06.2009 14:05:09");
  EXPECT_EQ(fields_.BoxText(Box::kWeekday), "Saturday");
  EXPECT_EQ(fields_.GaugeText(Gauge::kGps), "100%");
  EXPECT_EQ(fields_.GaugeText(Gauge::kXhk), "0%");

  Decode(Record(false));  // weekday 0: "?", the time is still written
  EXPECT_EQ(fields_.BoxText(Box::kWeekday), "?");
  EXPECT_EQ(fields_.BoxText(Box::kSatelliteTime), "00.00.2000 00:00:00");
}

TEST_F(TelemetryDecoderTest, UnshowablePointerOrGaugeKeepsItsTarget) {
  Decode(Record(false));
  ASSERT_EQ(fields_.Field(81), "0");
  ASSERT_EQ(fields_.GaugeText(Gauge::kGps), "-474%");
  Bytes p = Record(false);
  Put(p, 110, {0x80, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 5});
  Decode(p);
  EXPECT_EQ(fields_.Field(81), "0");
  EXPECT_EQ(fields_.GaugeText(Gauge::kGps), "-474%");
  EXPECT_EQ(fields_.Field(82), "7000000");
  EXPECT_EQ(fields_.GaugeText(Gauge::kXhk), "-576%");  // 37653 % cannot be shown
  EXPECT_EQ(fields_.Field(83), "5");
  EXPECT_TRUE(fields_.Writes().gauges.empty());
}

TEST_F(TelemetryDecoderTest, BytesBeyondTheFrameAreNotWritten) {
  Bytes full = Record(false);
  Put(full, 98, {1, 1, 1, 1});
  Put(full, 110, {1, 1, 1, 1});
  Put(full, 119, {1});
  Decode(full);
  ASSERT_EQ(fields_.Field(76), "128.5");
  ASSERT_EQ(fields_.Field(81), "1010100");  // 0x01010101 held in single precision

  // The record ends at position 100: the pair 100-101 and all after keep their text.
  Bytes shorter = Record(false, 100);
  Put(shorter, 98, {0x00, 0x02, 0x00});
  Decode(shorter);
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
  Bytes header = Payload(20);
  Put(header, 19, {0, 9});
  Decode(header);
  EXPECT_EQ(fields_.BoxText(Box::kFrameNumber), "9");
  EXPECT_EQ(fields_.BoxText(Box::kFrameType), "Housekeeping Data");
  EXPECT_EQ(fields_.Writes().boxes, std::vector<Box>{Box::kFrameNumber});

  // Escaped payload bytes are read unescaped.
  ExpectFields(true, {{27, {0xC0}, 1, "192"}, {28, {0xDB}, 2, "219"}});
}

}  // namespace
}  // namespace zevrin
