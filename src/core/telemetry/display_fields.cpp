#include "telemetry/display_fields.h"

#include <atomic>
#include <span>

#include "base/text_builder.h"

namespace zevrin {

namespace {

using G = FieldGroup;

constexpr FieldInfo Housekeeping(std::string_view caption, std::string_view unit, int column,
                                 int row) {
  return {caption, unit, G::kHousekeeping, column, row};
}
constexpr FieldInfo Threshold(std::string_view caption, std::string_view unit, int row) {
  return {caption, unit, G::kThresholds, 0, row};
}
constexpr FieldInfo Hidden(std::string_view caption = {}) {
  return {caption, {}, G::kHidden, 0, 0};
}

constexpr std::string_view kDegrees = "\u00B0C";

constexpr std::array<FieldInfo, kDisplayFieldCount> kFields = {
    Housekeeping("Mode", "", 1, 1),                  // 0
    Housekeeping("Softstart", "", 1, 2),             // 1
    Housekeeping("Reset Counter", "", 1, 3),         // 2
    Housekeeping("Power Level", "", 1, 4),           // 3
    Housekeeping("Powersafe Count", "", 1, 5),       // 4
    Housekeeping("Emercency Count", "", 1, 6),       // 5
    Hidden(),                                        // 6
    Hidden(),                                        // 7
    Housekeeping("Solar Side 2 Volts", "V", 2, 1),   // 8
    Housekeeping("Solar Side 2 Curr", "mA", 2, 2),   // 9
    Housekeeping("Solar Side 3 Volts", "V", 2, 3),   // 10
    Housekeeping("Solar Side 3 Curr", "mA", 2, 4),   // 11
    Housekeeping("Solar Side 4 Volts", "V", 2, 5),   // 12
    Housekeeping("Solar Side 4 Curr", "mA", 2, 6),   // 13
    Housekeeping("Solar Side 5 Volts", "V", 2, 7),   // 14
    Housekeeping("Solar Side 5 Curr", "mA", 2, 8),   // 15
    Housekeeping("Solar Side 6 Volts", "V", 2, 9),   // 16
    Housekeeping("Solar Side 6 Curr", "mA", 2, 10),  // 17
    Housekeeping("Battery Volts", "V", 3, 1),        // 18
    Housekeeping("Battery Curr", "mA", 3, 2),        // 19
    Housekeeping("3.3V line Curr", "mA", 3, 3),      // 20
    Housekeeping("5V line Curr", "mA", 3, 4),        // 21
    Housekeeping("Unreg line Curr", "mA", 3, 5),     // 22
    Housekeeping("Heater", "", 1, 8),                // 23
    Housekeeping("Heater Counter", "", 1, 9),        // 24
    Housekeeping("Heater Curr", "mA", 1, 10),        // 25
    Housekeeping("Temp Sensor 1", kDegrees, 4, 1),   // 26
    Housekeeping("Temp Sensor 2", kDegrees, 4, 2),   // 27
    Housekeeping("Temp Sensor 3", kDegrees, 4, 3),   // 28
    Housekeeping("Temp Battery", kDegrees, 4, 4),    // 29
    Housekeeping("Temp ADC 1", kDegrees, 4, 5),      // 30
    Housekeeping("Temp ADC 2", kDegrees, 4, 6),      // 31
    Housekeeping("Temp ADC 3", kDegrees, 4, 7),      // 32
    Housekeeping("Packet IN", "", 3, 7),             // 33
    Housekeeping("Packet OUT", "", 3, 8),            // 34
    Housekeeping("Resend ACT", "", 3, 9),            // 35
    Housekeeping("Resend STOP", "", 3, 10),          // 36
    FieldInfo{"Mode", "", G::kCom, 0, 0},            // 37
    Hidden("Satellite Time"),                        // 38
    Hidden(),                                        // 39
    Hidden(),                                        // 40
    Threshold("Heater ON Temp", kDegrees, 1),        // 41
    Threshold("Heater OFF Temp", kDegrees, 2),       // 42
    Threshold("Powersafe Threshold", "V", 3),        // 43
    Threshold("Emergency Threshold", "V", 4),        // 44
    Hidden(),                                        // 45
    Hidden(),                                        // 46
    Hidden(),                                        // 47
    Hidden(),                                        // 48
    Hidden(),                                        // 49
    Hidden(),                                        // 50
    Hidden(),                                        // 51
    Hidden(),                                        // 52
    Hidden(),                                        // 53
    Hidden("Frame #"),                               // 54
    Hidden("Counter"),                               // 55
    Hidden(),                                        // 56
    Hidden(),                                        // 57
    Hidden(),                                        // 58
    Hidden(),                                        // 59
    Housekeeping("HK Time", "", 2, 12),              // 60
    Housekeeping("RTC Temp", kDegrees, 4, 16),       // 61
    Housekeeping("Sys Info Pointer", "", 2, 13),     // 62
    Housekeeping("ADCS Data Pointer", "", 2, 14),    // 63
    Housekeeping("GPS Data Pointer", "", 2, 15),     // 64
    Housekeeping("Image Counter", "", 2, 16),        // 65
    Hidden(),                                        // 66
    Housekeeping("act ADCS mode", "", 1, 12),        // 67
    Hidden(),                                        // 68
    Housekeeping("System Status", "", 1, 13),        // 69
    Housekeeping("Resources", "", 1, 14),            // 70
    Housekeeping("Magnetom Stat", "", 1, 15),        // 71
    Housekeeping("Sun Sens Stat", "", 1, 16),        // 72
    Housekeeping("Sun Sens Conf", "", 1, 17),        // 73
    Housekeeping("GPS Status", "", 3, 12),           // 74
    Housekeeping("+X Panel Temp", kDegrees, 4, 9),   // 75
    Housekeeping("+Y Panel Temp", kDegrees, 4, 10),  // 76
    Housekeeping("-X Panel Temp", kDegrees, 4, 11),  // 77
    Housekeeping("-Y Panel Temp", kDegrees, 4, 12),  // 78
    Housekeeping("-Z Panel Temp", kDegrees, 4, 13),  // 79
    Housekeeping("ADCS Temp", kDegrees, 4, 14),      // 80
    Housekeeping("GPS Mem Pointer", "", 3, 13),      // 81
    Housekeeping("XHK Mem Pointer", "", 3, 14),      // 82
    Housekeeping("GPS NOFIX Count", "", 3, 15),      // 83
    Housekeeping("Mode Loop Count", "", 3, 16),      // 84
    Hidden(),                                        // 85
    Hidden(),                                        // 86
    Hidden(),                                        // 87
    Hidden(),                                        // 88
    Hidden(),                                        // 89
    Hidden(),                                        // 90
    Hidden(),                                        // 91
};

constexpr std::array<BoxInfo, kBoxCount> kBoxes = {{
    {"Text7(0)", "Satellite Time", "satellite_time"},
    {"Text7(1)", "", "weekday"},
    {"Text4", "", "frame_type"},
    {"Text3", "Frame #", "frame_number"},
    {"Text5", "Counter", "counter"},
    {"Text6", "", "header_word"},
}};

constexpr std::array<GaugeInfo, kGaugeCount> kGauges = {{
    {"Label8", 81, "gps"},
    {"Label9", 82, "xhk"},
}};

const std::string kEmpty;

// Replaces `text` with `with`, reusing its room: the values are short, and a
// store's texts keep their room from one record to the next.
void Replace(std::string& text, std::string_view with) {
  if (with.size() > text.capacity()) {
    text.assign(with);
    return;
  }
  // A value mostly keeps its length from one record to the next.
  if (text.size() != with.size()) text.resize(with.size());
  CopyText(text.data(), with.data(), with.size());
}

// Appends `value` to `log` unless `logged` already holds it.
template <typename T, std::size_t N>
void Record(std::vector<T>& log, std::bitset<N>& logged, T value) {
  const auto bit = static_cast<std::size_t>(value);
  if (logged.test(bit)) return;
  logged.set(bit);
  log.push_back(value);
}

}  // namespace

const std::array<FieldInfo, kDisplayFieldCount>& DisplayFieldTable() { return kFields; }
const std::array<BoxInfo, kBoxCount>& BoxTable() { return kBoxes; }

std::string_view BoxLabel(Box box) {
  static constexpr std::string_view kLabels[kBoxCount] = {
      "Satellite Time", "Weekday", "Frame Type", "Frame #", "Counter", "Header Word"};
  return kLabels[static_cast<int>(box)];
}

std::string_view GaugeLabel(Gauge gauge) {
  static constexpr std::string_view kLabels[kGaugeCount] = {"GPS Mem Fill", "XHK Mem Fill"};
  return kLabels[static_cast<int>(gauge)];
}

std::string_view FieldColourName(FieldColour colour) {
  switch (colour) {
    case FieldColour::kGreen:
      return "green";
    case FieldColour::kRed:
      return "red";
    case FieldColour::kNormal:
      break;
  }
  return "normal";
}
const std::array<GaugeInfo, kGaugeCount>& GaugeTable() { return kGauges; }

std::optional<Rgb> FieldColourRgb(FieldColour colour) {
  switch (colour) {
    case FieldColour::kGreen:
      return kThresholdGreen;
    case FieldColour::kRed:
      return kThresholdRed;
    case FieldColour::kNormal:
      break;
  }
  return std::nullopt;
}

std::uint64_t DisplayFields::Versions::NewRange() {
  static std::atomic<std::uint64_t> ranges{0};
  return (ranges.fetch_add(1, std::memory_order_relaxed) + 1) * (kInRange + 1);
}

DisplayFields::DisplayFields() {
  writes_.fields.reserve(kDisplayFieldCount);
  writes_.coloured.reserve(kDisplayFieldCount);
  writes_.boxes.reserve(kBoxCount);
  writes_.gauges.reserve(kGaugeCount);
}

void DisplayFields::WriteField(int index, std::string_view text, FieldNumber number) {
  if (!FieldInRange(index)) return;
  Replace(texts_[static_cast<std::size_t>(index)], text);
  numbers_[static_cast<std::size_t>(index)] = number;
  field_versions_[static_cast<std::size_t>(index)] = version_.Next();
  field_replaced_.set(static_cast<std::size_t>(index));
  KeepField(index);
}

void DisplayFields::KeepField(int index) {
  if (!FieldInRange(index)) return;
  Record(writes_.fields, field_logged_, index);
  if (observer_ != nullptr) observer_->FieldWritten(index);
}

void DisplayFields::SetFieldColour(int index, FieldColour colour) {
  if (!FieldInRange(index)) return;
  colours_[static_cast<std::size_t>(index)] = colour;
  Record(writes_.coloured, colour_logged_, index);
  if (observer_ != nullptr) observer_->FieldColoured(index);
}

const std::string& DisplayFields::Field(int index) const {
  return FieldInRange(index) ? texts_[static_cast<std::size_t>(index)] : kEmpty;
}

FieldColour DisplayFields::Colour(int index) const {
  return FieldInRange(index) ? colours_[static_cast<std::size_t>(index)] : FieldColour::kNormal;
}

void DisplayFields::WriteBox(Box box, std::string_view text) {
  if (!BoxInRange(box)) return;
  Replace(boxes_[static_cast<std::size_t>(box)], text);
  box_versions_[static_cast<std::size_t>(box)] = version_.Next();
  KeepBox(box);
}

void DisplayFields::KeepBox(Box box) {
  if (!BoxInRange(box)) return;
  Record(writes_.boxes, box_logged_, box);
  if (observer_ != nullptr) observer_->BoxWritten(box);
}

const std::string& DisplayFields::BoxText(Box box) const {
  return BoxInRange(box) ? boxes_[static_cast<std::size_t>(box)] : kEmpty;
}

void DisplayFields::WriteGauge(Gauge gauge, std::string_view text, FieldNumber number) {
  if (!GaugeInRange(gauge)) return;
  Replace(gauges_[static_cast<std::size_t>(gauge)], text);
  gauge_numbers_[static_cast<std::size_t>(gauge)] = number;
  gauge_versions_[static_cast<std::size_t>(gauge)] = version_.Next();
  KeepGauge(gauge);
}

void DisplayFields::KeepGauge(Gauge gauge) {
  if (!GaugeInRange(gauge)) return;
  Record(writes_.gauges, gauge_logged_, gauge);
  if (observer_ != nullptr) observer_->GaugeWritten(gauge);
}

const std::string& DisplayFields::GaugeText(Gauge gauge) const {
  return GaugeInRange(gauge) ? gauges_[static_cast<std::size_t>(gauge)] : kEmpty;
}

void DisplayFields::Clear() {
  for (std::string& text : texts_) text.clear();
  numbers_.fill(FieldNumber{});
  gauge_numbers_.fill(FieldNumber{});
  colours_.fill(FieldColour::kNormal);
  for (std::string& text : boxes_) text.clear();
  for (std::string& text : gauges_) text.clear();
  // Every text is new; none of them has a version a reader has seen.
  for (const std::span<std::uint64_t> versions :
       {std::span<std::uint64_t>(field_versions_), std::span<std::uint64_t>(box_versions_),
        std::span<std::uint64_t>(gauge_versions_)}) {
    for (std::uint64_t& v : versions) v = version_.Next();
  }
  BeginFrame();
}

void DisplayFields::BeginFrame() {
  writes_.fields.clear();
  writes_.coloured.clear();
  writes_.boxes.clear();
  writes_.gauges.clear();
  field_logged_.reset();
  field_replaced_.reset();
  colour_logged_.reset();
  box_logged_.reset();
  gauge_logged_.reset();
}

}  // namespace zevrin
