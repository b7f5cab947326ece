#pragma once
// The six status-byte windows as data, and the rule that turns the text of a
// status field into the lines a window shows.

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace zevrin {

enum class StatusWindow {
  kSystem,
  kResource,
  kGps,
  kMagnetometer,
  kSunSensorConfig,
  kSunSensorStatus,
};
inline constexpr int kStatusWindowCount = 6;

/// Display field holding the attitude-control mode name, read by the
/// "Magnetometer Status" window for its last line.
inline constexpr int kAdcsModeField = 67;

/// The two complete line texts of one bit.
struct BitTexts {
  std::string_view zero;
  std::string_view one;
};

/// The fixed content of one status window.
struct StatusWindowInfo {
  std::string_view caption;  ///< window caption
  std::string_view title;    ///< bold title line inside the window
  int field;                 ///< display field whose text the window explains
  int client_width;          ///< client area in pixels
  int client_height;
  int line_count;  ///< 8, or 5 for "Magnetometer Status"
  /// Leading lines set to their text for 0 on every tick, whatever their bit.
  int untested_lines;
  /// Lines shown before the first tick; entries past line_count are empty.
  std::array<std::string_view, 8> resting;
  /// Texts of line k (bit 7 - k). "Magnetometer Status" fills lines 0 to 3 only;
  /// its line 4 shows bits 3 to 0 as digits.
  std::array<BitTexts, 8> bits;
};

/// The caption, title, size, field and texts of one window.
const StatusWindowInfo& StatusWindowData(StatusWindow window);

/// Parts of the "Magnetometer Status" line that shows bits 3 to 0 as digits.
inline constexpr std::string_view kNibblePrefix = "bit 3-0 [";
inline constexpr std::string_view kNibbleGpsSuffix = "]  VISIBLE SAT [GPS]";
inline constexpr std::string_view kNibbleMagSuffix = "]  MAG FIELD ERRORS";

/// What a window shows below its title.
struct StatusView {
  std::string digits;              ///< the digit field
  std::vector<std::string> lines;  ///< line_count explanation lines
};

/// A window just opened: resting captions and an empty digit field.
StatusView RestingView(StatusWindow window);

/// The view after one tick. `field_text` is the window's display field,
/// `adcs_mode` the text of display field 67, `before` what was shown until now.
/// The digit field takes the text unchanged. A text that is blank, or shorter
/// than eight characters, leaves every line as it was; a tested character that
/// is neither "0" nor "1" leaves its own line as it was.
StatusView TickView(StatusWindow window, std::string_view field_text, std::string_view adcs_mode,
                    const StatusView& before);

/// True when the mode name in display field 67 is one of the two GPS modes.
bool IsGpsAdcsMode(std::string_view adcs_mode);

}  // namespace zevrin
