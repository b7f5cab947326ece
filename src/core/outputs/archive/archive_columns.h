#pragma once
// The columns of the archive's two housekeeping tables: where each value comes
// from in the display-field store, how its text becomes a number, and its name.
// The same names are the field names of the line-protocol export.

#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "telemetry/display_fields.h"
#include "telemetry/telemetry_decoder.h"

namespace zevrin {

/// The table a record's values go to.
inline constexpr std::string_view kPowerTable = "power_housekeeping";
inline constexpr std::string_view kSystemTable = "system_housekeeping";

/// The housekeeping table of a record kind; empty for kNone.
std::string_view RecordTable(RecordKind record);

/// Where a column's value is written on the window.
enum class ValueSource {
  kField,   ///< display field `index`: its text
  kColour,  ///< display field `index`: its background colour ("green", "red")
  kBox,     ///< bottom-row box `index` (a `Box`)
  kGauge,   ///< memory gauge `index` (a `Gauge`)
};

/// How the window's text becomes the stored value.
enum class ValueKind {
  kReal,     ///< a decimal number in engineering units ("3.49", "-56", "25.0")
  kInteger,  ///< a whole decimal number ("65535")
  kHex,      ///< a whole number written in hexadecimal ("163600")
  kPercent,  ///< a whole number followed by "%" ("-474%")
  kText,     ///< the text as shown ("NOMINAL", "10100101")
};

/// One column of a housekeeping table.
struct ArchiveColumn {
  RecordKind record;
  std::string_view name;  ///< column name, lower case with underscores
  ValueSource source;
  int index;
  ValueKind kind;

  bool numeric() const { return kind != ValueKind::kText; }
  /// The display field the value shows in, or -1 for boxes and gauges.
  int field() const {
    return source == ValueSource::kField || source == ValueSource::kColour ? index : -1;
  }
};

/// Every column of both tables, power record first, each table in window order.
std::span<const ArchiveColumn> ArchiveColumns();

/// The columns of a record kind's table, in table order; empty for kNone.
std::span<const ArchiveColumn* const> RecordColumns(RecordKind record);

/// The numeric column of a display field (for example 18, battery_volts), or null
/// when the field holds no number in the archive.
const ArchiveColumn* NumericColumnOfField(int field);

/// The caption beside the value on the window ("Battery Volts").
std::string_view ColumnCaption(const ArchiveColumn& column);
/// The unit of a numeric value ("V", "mA", "°C", "%"); empty when it has none.
std::string_view ColumnUnit(const ArchiveColumn& column);

/// A column's value after a frame, as stored. `present` is false when the frame
/// did not write the value (the column stays NULL): a record that could not
/// work a value out leaves it so, and the window then shows an older text.
struct ColumnValue {
  bool present = false;
  bool is_integer = false;
  std::int64_t integer = 0;
  double real = 0;
  std::string_view text;  ///< the window's text (kText, kColour, and the number's text)
};

/// The targets one frame wrote, for quick look-up.
struct FrameWriteSet {
  explicit FrameWriteSet(const FrameWrites& writes);
  /// The store's journal since its BeginFrame, copied from its sets: cheaper than
  /// going through the journal.
  explicit FrameWriteSet(const DisplayFields& store)
      : fields(store.FieldsWritten()),
        colours(store.ColoursWritten()),
        boxes(store.BoxesWritten()),
        gauges(store.GaugesWritten()) {}
  std::bitset<kDisplayFieldCount> fields;
  std::bitset<kDisplayFieldCount> colours;
  std::bitset<kBoxCount> boxes;
  std::bitset<kGaugeCount> gauges;
};

/// The value of `column` after a frame: `written` is made from the store's
/// journal of that frame.
ColumnValue ReadColumn(const ArchiveColumn& column, const DisplayFields& store,
                       const FrameWriteSet& written);

/// ReadColumn in two steps, for a reader that keeps the last text of a value and
/// parses only a new one: the text the frame wrote for `column` (none when it
/// wrote none, or a colour that is no value), then the value of that text.
inline std::optional<std::string_view> WrittenColumnText(const ArchiveColumn& column,
                                                         const DisplayFields& store,
                                                         const FrameWriteSet& written) {
  const auto at = static_cast<std::size_t>(column.index);
  switch (column.source) {
    case ValueSource::kField:
      if (!written.fields.test(at)) break;
      return store.Field(column.index);
    case ValueSource::kColour:
      // Only green and red are ever set; a colour not set is no value.
      if (!written.colours.test(at) || store.Colour(column.index) == FieldColour::kNormal) break;
      return FieldColourName(store.Colour(column.index));
    case ValueSource::kBox:
      if (!written.boxes.test(at)) break;
      return store.BoxText(static_cast<Box>(column.index));
    case ValueSource::kGauge:
      if (!written.gauges.test(at)) break;
      return store.GaugeText(static_cast<Gauge>(column.index));
  }
  return std::nullopt;
}
ColumnValue ColumnValueOfText(const ArchiveColumn& column, std::string_view text);

}  // namespace zevrin
