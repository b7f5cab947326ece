#include "telemetry/telemetry_decoder.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "telemetry/conversions.h"

namespace zevrin {

namespace {

// Payload layout: header at positions 19 to 24, the type letter at 21, the two
// layout markers at 25 and 89.
constexpr int kTypeLetterPos = 21;
constexpr int kFirstMarkerPos = 25;
constexpr int kSecondMarkerPos = 89;
constexpr std::uint8_t kHousekeepingLetter = 'S';
constexpr std::uint8_t kPowerFirstMarker = 0x29;
constexpr std::uint8_t kPowerSecondMarker = 0x14;
constexpr std::uint8_t kSystemFirstMarker = 0x17;
constexpr std::uint8_t kSystemSecondMarker = 0x40;

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

// The unsigned value of `width` bytes (at most eight) from `position`, high byte
// first.
std::uint64_t HighFirst(const UnescapedFrame& frame, int position, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 8) | frame.At(position + i);
  return value;
}

// A text that may be missing, kept in `scratch`.
std::optional<std::string_view> Kept(const std::optional<std::string>& text, TextBuilder& scratch) {
  if (!text) return std::nullopt;
  scratch.Append(*text);
  return scratch.view();
}

// The texts of the conversions that read one byte alone, for every byte, worked
// out once by the conversions themselves: a look-up instead of formatting a
// float for each value.
struct ByteTexts {
  std::array<std::string, 256> volts, current, temperature, bits, signed_number;
};

const ByteTexts& ByteTable() {
  static const ByteTexts table = [] {
    ByteTexts t;
    for (int b = 0; b < 256; ++b) {
      const auto byte = static_cast<std::uint8_t>(b);
      t.volts[byte] = VoltsText(byte);
      t.current[byte] = CurrentText(byte);
      t.temperature[byte] = TemperatureText(byte);
      t.bits[byte] = ByteToBits(byte);
      t.signed_number[byte] = NumberText(static_cast<float>(ByteToSigned(byte)));
    }
    return t;
  }();
  return table;
}

// The text of one value, or none when it cannot be worked out. A text that is
// worked out here is written into `scratch`, which the result then points into.
std::optional<std::string_view> Convert(const Step& step, const UnescapedFrame& frame,
                                        const ByteTexts& table, TextBuilder& scratch) {
  const int pos = step.position;
  const std::uint8_t byte = frame.At(pos);
  switch (step.conversion) {
    case Conversion::kDecimal:
      scratch.AppendNumber(HighFirst(frame, pos, step.width));
      return scratch.view();
    case Conversion::kDecimalLowFirst:
      scratch.AppendNumber(frame.At(pos + 1) * 256u + frame.At(pos));
      return scratch.view();
    case Conversion::kPayloadType:
      return PayloadTypeName(byte);
    case Conversion::kOperatingMode:
      return OperatingModeText(byte);
    case Conversion::kPowerLevel:
      return PowerLevelText(byte);
    case Conversion::kHeater:
      return HeaterText(byte);
    case Conversion::kLinkMode:
      return LinkModeText(byte);
    case Conversion::kVolts:
      return table.volts[byte];
    case Conversion::kCurrent:
      return table.current[byte];
    case Conversion::kTemperature:
      return table.temperature[byte];
    case Conversion::kSignedNumber:
      return table.signed_number[byte];
    case Conversion::kHalfDegree:
      AppendHalfDegreeText(scratch, static_cast<std::uint16_t>(HighFirst(frame, pos, 2)));
      return scratch.view();
    case Conversion::kBits:
      return table.bits[byte];
    case Conversion::kAdcsMode:
      return AdcsModeText(byte);
    case Conversion::kWeekday:
      return WeekdayText(byte);
    case Conversion::kSatelliteTime:
      AppendSatelliteTimeText(scratch, frame.At(pos), frame.At(pos + 1), frame.At(pos + 2),
                              frame.At(pos + 4), frame.At(pos + 5), frame.At(pos + 6));
      return scratch.view();
    case Conversion::kPointerHex:
      return Kept(
          PointerHexText(MemoryPointerValue(static_cast<std::uint32_t>(HighFirst(frame, pos, 4)))),
          scratch);
    case Conversion::kGpsGauge:
      return Kept(
          GaugePercentText(MemoryPointerValue(static_cast<std::uint32_t>(HighFirst(frame, pos, 4))),
                           kGpsMemoryBase),
          scratch);
    case Conversion::kXhkGauge:
      return Kept(
          GaugePercentText(MemoryPointerValue(static_cast<std::uint32_t>(HighFirst(frame, pos, 4))),
                           kXhkMemoryBase),
          scratch);
  }
  return std::nullopt;
}

// Positions up to the one before the closing FEND belong to the frame.
int LastPayloadPosition(const UnescapedFrame& frame) { return frame.unescaped_length - 1; }

std::uint64_t TargetVersion(const DisplayFields& fields, Target target) {
  switch (target.kind) {
    case TargetKind::kField:
      return fields.FieldVersion(target.index);
    case TargetKind::kBox:
      return fields.BoxVersion(static_cast<Box>(target.index));
    case TargetKind::kGauge:
      return fields.GaugeVersion(static_cast<Gauge>(target.index));
  }
  return 0;
}

void Write(DisplayFields& fields, Target target, std::string_view text) {
  switch (target.kind) {
    case TargetKind::kField:
      fields.WriteField(target.index, text);
      break;
    case TargetKind::kBox:
      fields.WriteBox(static_cast<Box>(target.index), text);
      break;
    case TargetKind::kGauge:
      fields.WriteGauge(static_cast<Gauge>(target.index), text);
      break;
  }
}

void Keep(DisplayFields& fields, Target target) {
  switch (target.kind) {
    case TargetKind::kField:
      fields.KeepField(target.index);
      break;
    case TargetKind::kBox:
      fields.KeepBox(static_cast<Box>(target.index));
      break;
    case TargetKind::kGauge:
      fields.KeepGauge(static_cast<Gauge>(target.index));
      break;
  }
}

// Applies each step on its own: a step whose bytes are not all in the frame, or
// whose value has no text, leaves its target alone and the next step runs. A
// text depends on its step's bytes alone, and most values repeat from record to
// record: a step whose bytes are those it last wrote from, into a target that
// still holds that text, writes it again without working it out.
void Apply(std::span<const Step> steps, std::span<TelemetryDecoder::Memo> memos,
           const UnescapedFrame& frame, DisplayFields& fields) {
  const int last = LastPayloadPosition(frame);
  const ByteTexts& table = ByteTable();
  TextBuilder scratch;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    if (step.position + step.width - 1 > last) continue;
    TelemetryDecoder::Memo& memo = memos[i];
    // A step reads at most seven bytes: they are its value's whole source.
    const std::uint64_t bytes = HighFirst(frame, step.position, step.width);
    if (memo.version != 0 && memo.bytes == bytes &&
        memo.version == TargetVersion(fields, step.target)) {
      Keep(fields, step.target);
    } else {
      scratch.clear();
      const std::optional<std::string_view> text = Convert(step, frame, table, scratch);
      if (!text) continue;
      Write(fields, step.target, *text);
      memo = {bytes, TargetVersion(fields, step.target)};
    }
    if (!step.green_text.empty()) {
      // The colour follows the text read back, so it always matches what is shown.
      const bool green = fields.Field(step.target.index) == step.green_text;
      fields.SetFieldColour(step.target.index, green ? FieldColour::kGreen : FieldColour::kRed);
    }
  }
}

}  // namespace

TelemetryDecoder::TelemetryDecoder(DisplayFields& fields)
    : fields_(fields),
      header_memos_(std::size(kHeaderSteps)),
      power_memos_(std::size(kPowerSteps)),
      system_memos_(std::size(kSystemSteps)) {}

void TelemetryDecoder::DecodeSatelliteFrame(const UnescapedFrame& frame,
                                            const FrameHeader& header) {
  last_record_ = RecordKind::kNone;
  last_was_satellite_ = false;
  if (header.source_call != kSatelliteCall) {
    fields_.WriteBox(Box::kFrameType, kNotSatelliteText);
    return;
  }
  if (header.destination_call != kGroundStationCall) return;
  last_was_satellite_ = true;

  Apply(kHeaderSteps, header_memos_, frame, fields_);

  // Both markers must be inside the frame; the type letter then is as well.
  if (kSecondMarkerPos > LastPayloadPosition(frame)) return;
  if (frame.At(kTypeLetterPos) != kHousekeepingLetter) return;
  const std::uint8_t first = frame.At(kFirstMarkerPos);
  const std::uint8_t second = frame.At(kSecondMarkerPos);
  if (first == kPowerFirstMarker && second == kPowerSecondMarker) {
    DecodePowerHousekeeping(frame);
  } else if (first == kSystemFirstMarker && second == kSystemSecondMarker) {
    DecodeSystemHousekeeping(frame);
  }
}

void TelemetryDecoder::DecodePowerHousekeeping(const UnescapedFrame& frame) {
  Apply(kPowerSteps, power_memos_, frame, fields_);
  last_record_ = RecordKind::kPower;
}

void TelemetryDecoder::DecodeSystemHousekeeping(const UnescapedFrame& frame) {
  Apply(kSystemSteps, system_memos_, frame, fields_);
  last_record_ = RecordKind::kSystem;
}

}  // namespace zevrin
