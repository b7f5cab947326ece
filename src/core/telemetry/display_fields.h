#pragma once
// The display-field store of the main window: 92 numbered text fields with a
// background colour each, the bottom-row boxes and the two memory gauges. The
// telemetry decoder writes it, the status windows and the window read it back.

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/colours.h"

namespace zevrin {

inline constexpr int kDisplayFieldCount = 92;

/// Where a field stands on the main window.
enum class FieldGroup { kHousekeeping, kThresholds, kCom, kHidden };

/// The fixed look of one display field.
struct FieldInfo {
  std::string_view caption;  ///< shown left of the field; empty when none
  std::string_view unit;     ///< shown right of the field; empty when none
  FieldGroup group;
  int column;  ///< 1 to 4 in the housekeeping group, otherwise 0
  int row;     ///< row within its column or frame (1 = top); 0 for COM and hidden fields
};

/// Caption, unit and place of every display field, by index.
const std::array<FieldInfo, kDisplayFieldCount>& DisplayFieldTable();

/// The bottom-row boxes, outside the numbered store, left to right.
enum class Box { kSatelliteTime, kWeekday, kFrameType, kFrameNumber, kCounter, kHeaderWord };
inline constexpr int kBoxCount = 6;

struct BoxInfo {
  std::string_view element;   ///< the window element that shows it
  std::string_view caption;   ///< caption before the box; empty when none
  std::string_view json_key;  ///< name in machine-readable output
};

/// The boxes in the order of `Box`.
const std::array<BoxInfo, kBoxCount>& BoxTable();

/// The two memory-fill labels beside fields 81 and 82.
enum class Gauge { kGps, kXhk };
inline constexpr int kGaugeCount = 2;

struct GaugeInfo {
  std::string_view element;   ///< the window element that shows it
  int beside_field;           ///< the display field it stands next to
  std::string_view json_key;  ///< name in machine-readable output
};

/// The gauges in the order of `Gauge`.
const std::array<GaugeInfo, kGaugeCount>& GaugeTable();

/// Background of a display field; normal means no colour has been set yet.
enum class FieldColour { kNormal, kGreen, kRed };

/// Name of a bottom-row box for people: its caption, or a name where it has none.
std::string_view BoxLabel(Box box);
/// Name of a memory gauge for people.
std::string_view GaugeLabel(Gauge gauge);
/// "green", "red", or "normal" for a colour not set.
std::string_view FieldColourName(FieldColour colour);

/// The RGB of a set colour; none for kNormal (the window's own background).
std::optional<Rgb> FieldColourRgb(FieldColour colour);

/// Told about every change of the store, after it has been made, so a window can
/// mirror it. Every method does nothing unless overridden.
class DisplayFieldsObserver {
 public:
  virtual ~DisplayFieldsObserver() = default;
  virtual void FieldWritten(int /*index*/) {}
  virtual void FieldColoured(int /*index*/) {}
  virtual void BoxWritten(Box /*box*/) {}
  virtual void GaugeWritten(Gauge /*gauge*/) {}
};

/// What has been written since the last BeginFrame, each target once, in the
/// order of its first write.
struct FrameWrites {
  std::vector<int> fields;
  std::vector<int> coloured;
  std::vector<Box> boxes;
  std::vector<Gauge> gauges;
};

/// A field's value as a number, handed over with its text by a writer that has
/// it at hand, so that a reader need not parse the text: exactly the number the
/// text reads as.
struct FieldNumber {
  double value = 0;
  bool known = false;  ///< false: the text came without a number
  bool whole = false;  ///< the text is a whole number, written without a point
};

/// The store. A write replaces a text whole; a text stays until the next write
/// of the same target or Clear. Writes to targets out of range are ignored.
class DisplayFields {
 public:
  DisplayFields();

  void WriteField(int index, std::string_view text, FieldNumber number = {});
  void SetFieldColour(int index, FieldColour colour);
  /// The field's text; an empty text for an index outside 0 to 91.
  const std::string& Field(int index) const;
  /// The number written with the field's text; unknown for an index outside 0 to
  /// 91 and after a write without one or Clear.
  const FieldNumber& Number(int index) const {
    return FieldInRange(index) ? numbers_[static_cast<std::size_t>(index)] : kNoNumber;
  }
  /// The field's colour; kNormal for an index outside 0 to 91.
  FieldColour Colour(int index) const;

  void WriteBox(Box box, std::string_view text);
  /// The box's text; empty for a value outside the enumeration.
  const std::string& BoxText(Box box) const;

  void WriteGauge(Gauge gauge, std::string_view text, FieldNumber number = {});
  /// The gauge's caption; empty for a value outside the enumeration.
  const std::string& GaugeText(Gauge gauge) const;
  /// The number written with the gauge's text (its level), as Number.
  const FieldNumber& GaugeNumber(Gauge gauge) const {
    return GaugeInRange(gauge) ? gauge_numbers_[static_cast<std::size_t>(gauge)] : kNoNumber;
  }

  /// A target written again with the text it holds: the write is journalled and
  /// the observer told, as for a write, but the text and its version stay. A
  /// writer that knows its text has not changed saves building and copying it.
  void KeepField(int index);
  void KeepBox(Box box);
  void KeepGauge(Gauge gauge);

  /// A number that changes whenever the target's text may have changed (every
  /// write and Clear) and only then: equal versions mean an equal text. Never 0
  /// after a write or Clear; 0 outside the ranges.
  std::uint64_t FieldVersion(int index) const {
    return FieldInRange(index) ? field_versions_[static_cast<std::size_t>(index)] : 0;
  }
  std::uint64_t BoxVersion(Box box) const {
    return BoxInRange(box) ? box_versions_[static_cast<std::size_t>(box)] : 0;
  }
  std::uint64_t GaugeVersion(Gauge gauge) const {
    return GaugeInRange(gauge) ? gauge_versions_[static_cast<std::size_t>(gauge)] : 0;
  }

  /// Empties every field, box and gauge and sets every colour to normal, as a
  /// new main window starts; the journal is emptied too. The observer is not
  /// told: the window that clears the store builds its widgets from it afterwards.
  void Clear();

  /// The observer, or null for none. It must outlive the store or be reset.
  void SetObserver(DisplayFieldsObserver* observer) { observer_ = observer; }
  DisplayFieldsObserver* observer() const { return observer_; }

  /// Starts the journal of a new frame.
  void BeginFrame();
  /// The journal since the last BeginFrame.
  const FrameWrites& Writes() const { return writes_; }
  /// The same journal as sets of the targets written, for quick look-up.
  const std::bitset<kDisplayFieldCount>& FieldsWritten() const { return field_logged_; }
  /// The fields of the journal whose text was replaced rather than kept: those
  /// whose version changed since BeginFrame, but for Clear.
  const std::bitset<kDisplayFieldCount>& FieldsReplaced() const { return field_replaced_; }
  const std::bitset<kDisplayFieldCount>& ColoursWritten() const { return colour_logged_; }
  const std::bitset<kBoxCount>& BoxesWritten() const { return box_logged_; }
  const std::bitset<kGaugeCount>& GaugesWritten() const { return gauge_logged_; }

 private:
  static bool FieldInRange(int index) { return index >= 0 && index < kDisplayFieldCount; }
  static bool BoxInRange(Box box) {
    return static_cast<int>(box) >= 0 && static_cast<int>(box) < kBoxCount;
  }
  static bool GaugeInRange(Gauge gauge) {
    return static_cast<int>(gauge) >= 0 && static_cast<int>(gauge) < kGaugeCount;
  }

  static constexpr FieldNumber kNoNumber{};
  std::array<std::string, kDisplayFieldCount> texts_;
  std::array<FieldNumber, kDisplayFieldCount> numbers_{};
  std::array<FieldColour, kDisplayFieldCount> colours_{};
  std::array<std::string, kBoxCount> boxes_;
  std::array<std::string, kGaugeCount> gauges_;
  std::array<FieldNumber, kGaugeCount> gauge_numbers_{};
  DisplayFieldsObserver* observer_ = nullptr;
  // Hands out versions that no other store of the process hands out, a copy
  // included, so that a reader never takes one store's text for another's.
  class Versions {
   public:
    Versions() : last_(NewRange()) {}
    Versions(const Versions&) : last_(NewRange()) {}
    Versions& operator=(const Versions&) {
      last_ = NewRange();
      return *this;
    }
    std::uint64_t Next() {
      ++last_;
      if ((last_ & kInRange) == 0) last_ = NewRange() + 1;
      return last_;
    }

   private:
    static constexpr std::uint64_t kInRange = (std::uint64_t{1} << 32) - 1;
    static std::uint64_t NewRange();
    std::uint64_t last_;
  };
  Versions version_;
  std::array<std::uint64_t, kDisplayFieldCount> field_versions_{};
  std::array<std::uint64_t, kBoxCount> box_versions_{};
  std::array<std::uint64_t, kGaugeCount> gauge_versions_{};

  // The journal; its vectors are reserved to their largest size once, so that
  // recording a write never allocates.
  FrameWrites writes_;
  std::bitset<kDisplayFieldCount> field_logged_;
  std::bitset<kDisplayFieldCount> field_replaced_;
  std::bitset<kDisplayFieldCount> colour_logged_;
  std::bitset<kBoxCount> box_logged_;
  std::bitset<kGaugeCount> gauge_logged_;
};

}  // namespace zevrin
