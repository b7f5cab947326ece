#include "telemetry/telemetry_decoder.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "base/number_text.h"
#include "telemetry/conversions.h"
#include "telemetry/telemetry_steps.h"

namespace zevrin {

namespace {

using namespace telemetry_steps;  // NOLINT(google-build-using-namespace)

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
// float for each value. Each with the number it reads as, for readers of the
// store that want numbers.
struct ByteTexts {
  struct Texts {
    std::array<std::string, 256> text;
    std::array<FieldNumber, 256> number;
    template <typename Format>
    void Fill(Format format) {
      for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        text[byte] = format(byte);
        FieldNumber& n = number[byte];
        n.known = ParseReal(text[byte], n.value);
        n.whole = n.known && text[byte].find('.') == std::string::npos;
      }
    }
  };
  Texts volts, current, temperature, signed_number;
  std::array<std::string, 256> bits;
};

const ByteTexts& ByteTable() {
  static const ByteTexts table = [] {
    ByteTexts t;
    t.volts.Fill(VoltsText);
    t.current.Fill(CurrentText);
    t.temperature.Fill(TemperatureText);
    t.signed_number.Fill(
        [](std::uint8_t byte) { return NumberText(static_cast<float>(ByteToSigned(byte))); });
    for (int b = 0; b < 256; ++b)
      t.bits[static_cast<std::size_t>(b)] = ByteToBits(static_cast<std::uint8_t>(b));
    return t;
  }();
  return table;
}

std::string_view FromTable(const ByteTexts::Texts& texts, std::uint8_t byte, FieldNumber& number) {
  number = texts.number[byte];
  return texts.text[byte];
}

// A memory pointer's text, or the fill of its memory, whose level is handed over
// as a number too.
std::optional<std::string_view> MemoryText(const Step& step, const UnescapedFrame& frame,
                                           TextBuilder& scratch, FieldNumber& number) {
  const auto pointer =
      MemoryPointerValue(static_cast<std::uint32_t>(HighFirst(frame, step.position, 4)));
  if (step.conversion == Conversion::kPointerHex) return Kept(PointerHexText(pointer), scratch);
  const auto base = step.conversion == Conversion::kGpsGauge ? kGpsMemoryBase : kXhkMemoryBase;
  const std::optional<int> level = GaugeLevel(pointer, base);
  if (!level) return std::nullopt;
  number = {static_cast<double>(*level), true, true};
  return Kept(GaugePercentText(*level), scratch);
}

FieldNumber Whole(std::uint64_t value) { return {static_cast<double>(value), true, true}; }

// The text of one value, or none when it cannot be worked out. A text that is
// worked out here is written into `scratch`, which the result then points into.
// `number` is set to the number the text reads as, where there is one.
[[gnu::always_inline]] inline std::optional<std::string_view> Convert(const Step& step,
                                                                      const UnescapedFrame& frame,
                                                                      const ByteTexts& table,
                                                                      TextBuilder& scratch,
                                                                      FieldNumber& number) {
  const int pos = step.position;
  const std::uint8_t byte = frame.At(pos);
  switch (step.conversion) {
    case Conversion::kDecimal:
    case Conversion::kDecimalLowFirst: {
      const std::uint64_t value = step.conversion == Conversion::kDecimal
                                      ? HighFirst(frame, pos, step.width)
                                      : frame.At(pos + 1) * 256u + frame.At(pos);
      number = Whole(value);
      scratch.AppendNumber(value);
      return scratch.view();
    }
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
      return FromTable(table.volts, byte, number);
    case Conversion::kCurrent:
      return FromTable(table.current, byte, number);
    case Conversion::kTemperature:
      return FromTable(table.temperature, byte, number);
    case Conversion::kSignedNumber:
      return FromTable(table.signed_number, byte, number);
    case Conversion::kHalfDegree: {
      // A whole number of halves: exact as a double, as is its text.
      const int halves = WordToSigned(static_cast<std::uint16_t>(HighFirst(frame, pos, 2)));
      number = {halves / 2.0, true, halves % 2 == 0};
      AppendHalfDegreeText(scratch, static_cast<std::uint16_t>(HighFirst(frame, pos, 2)));
      return scratch.view();
    }
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
    case Conversion::kGpsGauge:
    case Conversion::kXhkGauge:
      return MemoryText(step, frame, scratch, number);
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

void Write(DisplayFields& fields, Target target, std::string_view text, FieldNumber number) {
  switch (target.kind) {
    case TargetKind::kField:
      fields.WriteField(target.index, text, number);
      break;
    case TargetKind::kBox:
      fields.WriteBox(static_cast<Box>(target.index), text);
      break;
    case TargetKind::kGauge:
      fields.WriteGauge(static_cast<Gauge>(target.index), text, number);
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

// Applies one step: a step whose bytes are not all in the frame, or whose value
// has no text, leaves its target alone. A text depends on its step's bytes alone,
// and most values repeat from record to record: a step whose bytes are those it
// last wrote from, into a target that still holds that text, writes it again
// without working it out. The step is known when this is compiled, so its
// conversion, target and bytes are chosen then rather than for every record.
// Working a value out is laid out apart from the common path, which keeps the
// steps that run one after the other for each record few cache lines apart.
template <const auto& kSteps, std::size_t kIndex>
void ApplyStep(const UnescapedFrame& frame, int last, TelemetryDecoder::Memo& memo,
               DisplayFields& fields, TextBuilder& scratch, const ByteTexts& table) {
  static constexpr Step kStep = kSteps[kIndex];
  if (kStep.position + kStep.width - 1 > last) return;
  // A step reads at most seven bytes: they are its value's whole source.
  const std::uint64_t bytes = HighFirst(frame, kStep.position, kStep.width);
  if (memo.version != 0 && memo.bytes == bytes &&
      memo.version == TargetVersion(fields, kStep.target)) {
    Keep(fields, kStep.target);
  } else [[unlikely]] {
    scratch.clear();
    FieldNumber number;
    const std::optional<std::string_view> text = Convert(kStep, frame, table, scratch, number);
    if (!text) return;
    Write(fields, kStep.target, *text, number);
    memo = {bytes, TargetVersion(fields, kStep.target)};
  }
  if constexpr (!kStep.green_text.empty()) {
    // The colour follows the text read back, so it always matches what is shown.
    const bool green = fields.Field(kStep.target.index) == kStep.green_text;
    fields.SetFieldColour(kStep.target.index, green ? FieldColour::kGreen : FieldColour::kRed);
  }
}

template <const auto& kSteps, std::size_t... kIndex>
void ApplySteps(std::index_sequence<kIndex...>, std::span<TelemetryDecoder::Memo> memos,
                const UnescapedFrame& frame, DisplayFields& fields) {
  const int last = LastPayloadPosition(frame);
  const ByteTexts& table = ByteTable();
  TextBuilder scratch;
  (ApplyStep<kSteps, kIndex>(frame, last, memos[kIndex], fields, scratch, table), ...);
}

// Applies the steps of a table in their order, each on its own.
template <const auto& kSteps>
void Apply(std::span<TelemetryDecoder::Memo> memos, const UnescapedFrame& frame,
           DisplayFields& fields) {
  ApplySteps<kSteps>(std::make_index_sequence<std::size(kSteps)>{}, memos, frame, fields);
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

  Apply<kHeaderSteps>(header_memos_, frame, fields_);

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
  Apply<kPowerSteps>(power_memos_, frame, fields_);
  last_record_ = RecordKind::kPower;
}

void TelemetryDecoder::DecodeSystemHousekeeping(const UnescapedFrame& frame) {
  Apply<kSystemSteps>(system_memos_, frame, fields_);
  last_record_ = RecordKind::kSystem;
}

}  // namespace zevrin
