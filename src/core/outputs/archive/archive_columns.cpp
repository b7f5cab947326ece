#include "outputs/archive/archive_columns.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/number_text.h"

namespace zevrin {

namespace {

constexpr RecordKind P = RecordKind::kPower;
constexpr RecordKind S = RecordKind::kSystem;
constexpr ValueSource F = ValueSource::kField;
constexpr ValueSource C = ValueSource::kColour;
constexpr ValueSource B = ValueSource::kBox;
constexpr ValueSource G = ValueSource::kGauge;
constexpr ValueKind kR = ValueKind::kReal;
constexpr ValueKind kI = ValueKind::kInteger;
constexpr ValueKind kH = ValueKind::kHex;
constexpr ValueKind kP = ValueKind::kPercent;
constexpr ValueKind kT = ValueKind::kText;
constexpr int kFrameNumberBox = static_cast<int>(Box::kFrameNumber);
constexpr int kCounterBox = static_cast<int>(Box::kCounter);
constexpr int kHeaderWordBox = static_cast<int>(Box::kHeaderWord);
constexpr int kTimeBox = static_cast<int>(Box::kSatelliteTime);
constexpr int kWeekdayBox = static_cast<int>(Box::kWeekday);

// The names are part of the archive's format and of the export: never rename one.
constexpr std::array kColumns = std::to_array<ArchiveColumn>({
    {P, "frame_number", B, kFrameNumberBox, kI},
    {P, "payload_counter", B, kCounterBox, kI},
    {P, "header_word", B, kHeaderWordBox, kI},
    {P, "operating_mode", F, 0, kT},
    {P, "softstart_count", F, 1, kI},
    {P, "reset_count", F, 2, kI},
    {P, "power_level", F, 3, kT},
    {P, "powersafe_count", F, 4, kI},
    {P, "emergency_count", F, 5, kI},
    {P, "solar_side_2_volts", F, 8, kR},
    {P, "solar_side_2_current_ma", F, 9, kR},
    {P, "solar_side_3_volts", F, 10, kR},
    {P, "solar_side_3_current_ma", F, 11, kR},
    {P, "solar_side_4_volts", F, 12, kR},
    {P, "solar_side_4_current_ma", F, 13, kR},
    {P, "solar_side_5_volts", F, 14, kR},
    {P, "solar_side_5_current_ma", F, 15, kR},
    {P, "solar_side_6_volts", F, 16, kR},
    {P, "solar_side_6_current_ma", F, 17, kR},
    {P, "battery_volts", F, 18, kR},
    {P, "battery_current_ma", F, 19, kR},
    {P, "line_3v3_current_ma", F, 20, kR},
    {P, "line_5v_current_ma", F, 21, kR},
    {P, "unregulated_line_current_ma", F, 22, kR},
    {P, "heater", F, 23, kT},
    {P, "heater_count", F, 24, kI},
    {P, "heater_current_ma", F, 25, kR},
    {P, "temp_sensor_1_c", F, 26, kR},
    {P, "temp_sensor_2_c", F, 27, kR},
    {P, "temp_sensor_3_c", F, 28, kR},
    {P, "battery_temp_c", F, 29, kR},
    {P, "adc_1_temp_c", F, 30, kR},
    {P, "adc_2_temp_c", F, 31, kR},
    {P, "adc_3_temp_c", F, 32, kR},
    {P, "packets_in", F, 33, kI},
    {P, "packets_out", F, 34, kI},
    {P, "resends_active", F, 35, kI},
    {P, "resends_stopped", F, 36, kI},
    {P, "link_mode", F, 37, kT},
    {P, "heater_on_temp_c", F, 41, kR},
    {P, "heater_on_temp_colour", C, 41, kT},
    {P, "heater_off_temp_c", F, 42, kR},
    {P, "heater_off_temp_colour", C, 42, kT},
    {P, "powersafe_threshold_volts", F, 43, kR},
    {P, "powersafe_threshold_colour", C, 43, kT},
    {P, "emergency_threshold_volts", F, 44, kR},
    {P, "emergency_threshold_colour", C, 44, kT},

    {S, "frame_number", B, kFrameNumberBox, kI},
    {S, "payload_counter", B, kCounterBox, kI},
    {S, "header_word", B, kHeaderWordBox, kI},
    // Hidden fields: the first layout marker and five bytes without a name.
    {S, "field_54", F, 54, kI},
    {S, "field_55", F, 55, kI},
    {S, "field_56", F, 56, kI},
    {S, "field_57", F, 57, kI},
    {S, "field_58", F, 58, kI},
    {S, "field_59", F, 59, kI},
    {S, "hk_time", F, 60, kI},
    {S, "satellite_time", B, kTimeBox, kT},
    {S, "satellite_weekday", B, kWeekdayBox, kT},
    {S, "rtc_temp_c", F, 61, kR},
    {S, "sys_info_pointer", F, 62, kI},
    {S, "adcs_data_pointer", F, 63, kI},
    {S, "gps_data_pointer", F, 64, kI},
    {S, "image_counter", F, 65, kI},
    {S, "adcs_mode", F, 67, kT},
    {S, "system_status", F, 69, kT},
    {S, "resources_status", F, 70, kT},
    {S, "magnetometer_status", F, 71, kT},
    {S, "sun_sensor_status", F, 72, kT},
    {S, "sun_sensor_config", F, 73, kT},
    {S, "gps_status", F, 74, kT},
    {S, "panel_plus_x_temp_c", F, 75, kR},
    {S, "panel_plus_y_temp_c", F, 76, kR},
    {S, "panel_minus_x_temp_c", F, 77, kR},
    {S, "panel_minus_y_temp_c", F, 78, kR},
    {S, "panel_minus_z_temp_c", F, 79, kR},
    {S, "adcs_temp_c", F, 80, kR},
    {S, "gps_mem_pointer", F, 81, kH},
    {S, "gps_mem_fill_percent", G, static_cast<int>(Gauge::kGps), kP},
    {S, "xhk_mem_pointer", F, 82, kH},
    {S, "xhk_mem_fill_percent", G, static_cast<int>(Gauge::kXhk), kP},
    {S, "gps_nofix_count", F, 83, kI},
    {S, "mode_loop_count", F, 84, kI},
});

struct ColumnsOfRecords {
  std::vector<const ArchiveColumn*> power;
  std::vector<const ArchiveColumn*> system;
  ColumnsOfRecords() {
    for (const ArchiveColumn& c : ArchiveColumns()) {
      if (c.record == RecordKind::kPower) power.push_back(&c);
      if (c.record == RecordKind::kSystem) system.push_back(&c);
    }
  }
};

const ColumnsOfRecords& Columns() {
  static const ColumnsOfRecords columns;
  return columns;
}

}  // namespace

std::string_view RecordTable(RecordKind record) {
  switch (record) {
    case RecordKind::kPower:
      return kPowerTable;
    case RecordKind::kSystem:
      return kSystemTable;
    case RecordKind::kNone:
      break;
  }
  return {};
}

std::span<const ArchiveColumn> ArchiveColumns() { return kColumns; }

std::span<const ArchiveColumn* const> RecordColumns(RecordKind record) {
  switch (record) {
    case RecordKind::kPower:
      return Columns().power;
    case RecordKind::kSystem:
      return Columns().system;
    case RecordKind::kNone:
      break;
  }
  return {};
}

const ArchiveColumn* NumericColumnOfField(int field) {
  for (const ArchiveColumn& c : kColumns) {
    if (c.source == ValueSource::kField && c.index == field && c.numeric()) return &c;
  }
  return nullptr;
}

std::string_view ColumnCaption(const ArchiveColumn& column) {
  switch (column.source) {
    case ValueSource::kField:
    case ValueSource::kColour:
      return DisplayFieldTable()[static_cast<std::size_t>(column.index)].caption;
    case ValueSource::kBox:
      return BoxLabel(static_cast<Box>(column.index));
    case ValueSource::kGauge:
      return GaugeLabel(static_cast<Gauge>(column.index));
  }
  return {};
}

std::string_view ColumnUnit(const ArchiveColumn& column) {
  if (column.kind == ValueKind::kPercent) return "%";
  if (column.source != ValueSource::kField || !column.numeric()) return {};
  return DisplayFieldTable()[static_cast<std::size_t>(column.index)].unit;
}

FrameWriteSet::FrameWriteSet(const FrameWrites& writes) {
  for (const int i : writes.fields) fields.set(static_cast<std::size_t>(i));
  for (const int i : writes.coloured) colours.set(static_cast<std::size_t>(i));
  for (const Box b : writes.boxes) boxes.set(static_cast<std::size_t>(b));
  for (const Gauge g : writes.gauges) gauges.set(static_cast<std::size_t>(g));
}

ColumnValue ReadColumn(const ArchiveColumn& column, const DisplayFields& store,
                       const FrameWriteSet& written) {
  const std::optional<std::string_view> text = WrittenColumnText(column, store, written);
  return text ? ColumnValueOfText(column, *text) : ColumnValue{};
}

ColumnValue ColumnValueOfText(const ArchiveColumn& column, std::string_view text) {
  ColumnValue v;
  v.text = text;
  switch (column.kind) {
    case ValueKind::kText:
      v.present = !v.text.empty();
      break;
    case ValueKind::kReal:
      v.present = ParseReal(v.text, v.real);
      break;
    case ValueKind::kInteger:
      v.is_integer = true;
      v.present = ParseWhole(v.text, v.integer);
      break;
    case ValueKind::kHex:
      v.is_integer = true;
      v.present = ParseWhole(v.text, v.integer, 16);
      break;
    case ValueKind::kPercent:
      v.is_integer = true;
      v.present =
          v.text.ends_with('%') && ParseWhole(v.text.substr(0, v.text.size() - 1), v.integer);
      break;
  }
  return v;
}

}  // namespace zevrin
