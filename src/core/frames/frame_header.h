#pragma once
// Undoing KISS escapes and decoding the AX.25 header at the head of a frame.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zevrin {

inline constexpr std::uint8_t kFesc = 0xDB;
inline constexpr std::uint8_t kTfend = 0xDC;
inline constexpr std::uint8_t kTfesc = 0xDD;
inline constexpr int kUnescapedSize = 512;
inline constexpr int kMaxDigipeaters = 9;

/// The current frame with KISS escapes undone. Position 1 is the opening FEND,
/// position 2 the KISS command byte, positions 3 to 16 the two addresses.
/// Positions beyond unescaped_length read as 0: nothing of an earlier frame shows.
struct UnescapedFrame {
  std::array<std::uint8_t, kUnescapedSize> bytes{};
  std::int16_t unescaped_length = 0;

  /// Byte at position `pos` (1 to 512); 0 outside that range.
  std::uint8_t At(int pos) const {
    return pos >= 1 && pos <= kUnescapedSize ? bytes[static_cast<std::size_t>(pos - 1)] : 0;
  }
};

/// The decoded AX.25 header of the current frame.
struct FrameHeader {
  std::string destination_call;
  std::string source_call;
  /// Entry i holds digipeater i + 1, with "*" when it has repeated the frame;
  /// entries after the last digipeater are empty.
  std::array<std::string, kMaxDigipeaters> digipeaters;
  std::uint8_t control_byte = 0;
  /// Written only by frames that carry a PID field (I and UI frames).
  std::uint8_t pid_byte = 0;
  /// True when the current frame carries a PID field.
  bool has_pid = false;
  std::string control_name;
  std::string header_text;
  /// Position in the unescaped frame of the first payload byte.
  std::int16_t payload_start = 0;
};

/// Copies `frame` (up to 512 bytes) into `out` without its KISS escapes: a FESC
/// is dropped and transposes the next TFEND or TFESC; every other byte is kept.
void Unescape(std::span<const std::uint8_t> frame, UnescapedFrame& out);

/// Undoes KISS escapes of `frame` (frame_buffer positions 1 to frame_length) into
/// `out` and decodes the AX.25 header into `header`. Every byte sequence of up to
/// 512 bytes is accepted; nothing is checked or rejected.
void DecodeFrameHeader(std::span<const std::uint8_t> frame, UnescapedFrame& out,
                       FrameHeader& header);

/// The text without any of its blanks.
std::string StripSpaces(std::string_view text);

/// The byte shifted right by `count` bits; a count below 1 returns it unchanged.
std::uint8_t ShiftRight(std::uint8_t byte, int count);

/// True when bit `bit` (0 = least significant) is set; false outside 0 to 7.
bool IsBitSet(std::uint8_t byte, int bit);

/// The address text of six shifted callsign bytes and an SSID: the characters,
/// blanks and NULs removed, then "-" and the SSID when it is not 0.
std::string AddressText(const std::uint8_t* callsign, int ssid);

/// The control field's name, for example "UI", "I10^", "RR1-", "UNKNOWN U".
std::string ControlName(std::uint8_t control);

}  // namespace zevrin
