#include "frames/frame_header.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace zevrin {

namespace {

constexpr int kDestinationPos = 3;
constexpr int kSourcePos = 10;
constexpr int kFirstDigipeaterPos = 17;
constexpr int kAddressLength = 7;

struct UFrameName {
  int kind;
  const char* with_pf;
  const char* without_pf;
};

constexpr UFrameName kUFrameNames[] = {
    {15, "SABME+", "SABME^"}, {7, "SABM+", "SABM^"}, {8, "DISC+", "DISC^"},
    {3, "DM-", "DMv"},        {12, "UA-", "UAv"},    {17, "FRMR-", "FRMRv"},
    {0, "UI!", "UI"},         {23, "XID!", "XID"},   {28, "TEST!", "TEST"},
};

constexpr const char* kSFrameNames[] = {"RR", "RNR", "REJ", "SREJ"};

constexpr int kUiKind = 0;

bool IsIFrame(std::uint8_t control) { return !IsBitSet(control, 0); }
bool IsUFrame(std::uint8_t control) { return (control & 0x03) == 0x03; }
int UFrameKind(std::uint8_t control) {
  return ShiftRight(control & 0xE0, 3) + ShiftRight(control & 0x0C, 2);
}

int Ssid(std::uint8_t ssid_byte) { return (ssid_byte & 0x1E) / 2; }

}  // namespace

// Undoes the escapes. A FESC is dropped and leaves an escape pending until the
// next TFEND or TFESC, which it transposes; any other byte is copied as it is.
void Unescape(std::span<const std::uint8_t> frame, UnescapedFrame& out) {
  constexpr auto kSize = static_cast<std::size_t>(kUnescapedSize);
  const auto previous = static_cast<std::size_t>(out.unescaped_length);
  std::uint8_t* dst = out.bytes.data();
  const std::uint8_t* src = frame.data();
  const std::uint8_t* const end = src + frame.size();
  std::size_t n = 0;
  bool escape = false;
  while (src < end && n < kSize) {
    if (!escape) {
      // Everything up to the next FESC is copied in one go.
      const std::size_t left = std::min(static_cast<std::size_t>(end - src), kSize - n);
      const void* fesc = std::memchr(src, kFesc, left);
      const std::size_t run =
          fesc != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(fesc) - src)
                          : left;
      std::memcpy(dst + n, src, run);
      n += run;
      src += run;
      if (fesc != nullptr) {
        escape = true;
        ++src;
      }
      continue;
    }
    const std::uint8_t b = *src++;
    if (b == kFesc) continue;
    if (b == kTfend) {
      dst[n++] = 0xC0;
      escape = false;
    } else if (b == kTfesc) {
      dst[n++] = kFesc;
      escape = false;
    } else {
      dst[n++] = b;
    }
  }
  // Clear what the previous, longer frame left behind.
  if (n < previous) std::memset(dst + n, 0, previous - n);
  out.unescaped_length = static_cast<std::int16_t>(n);
}

namespace {

// AddressText into `out`, whose room is used again.
void AssignAddress(std::string& out, const std::uint8_t* callsign, int ssid) {
  char text[16];
  std::size_t n = 0;
  for (int i = 0; i < 6; ++i) {
    const char c = static_cast<char>(ShiftRight(callsign[i], 1));
    if (c != ' ' && c != '\0') text[n++] = c;
  }
  if (ssid != 0) {
    text[n++] = '-';
    n = static_cast<std::size_t>(std::to_chars(text + n, text + sizeof text, ssid).ptr - text);
  }
  out.assign(text, n);
}

// The name of every control byte, worked out once.
const std::array<std::string, 256>& ControlNames() {
  static const std::array<std::string, 256> names = [] {
    std::array<std::string, 256> n;
    for (int c = 0; c < 256; ++c)
      n[static_cast<std::size_t>(c)] = ControlName(static_cast<std::uint8_t>(c));
    return n;
  }();
  return names;
}

}  // namespace

std::string StripSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

std::uint8_t ShiftRight(std::uint8_t byte, int count) {
  if (count < 1) return byte;
  if (count > 7) return 0;
  return static_cast<std::uint8_t>(byte >> count);
}

bool IsBitSet(std::uint8_t byte, int bit) {
  return bit >= 0 && bit <= 7 && ((byte >> bit) & 1) != 0;
}

std::string AddressText(const std::uint8_t* callsign, int ssid) {
  std::string text;
  AssignAddress(text, callsign, ssid);
  return text;
}

std::string ControlName(std::uint8_t control) {
  const bool pf = IsBitSet(control, 4);
  if (IsIFrame(control)) {
    std::string name = "I";
    name += std::to_string(ShiftRight(control & 0xE0, 5));
    name += std::to_string(ShiftRight(control & 0x0E, 1));
    name += pf ? '+' : '^';
    return name;
  }
  if (IsUFrame(control)) {
    const int kind = UFrameKind(control);
    for (const UFrameName& u : kUFrameNames) {
      if (u.kind == kind) return pf ? u.with_pf : u.without_pf;
    }
    return "UNKNOWN U";
  }
  std::string name = kSFrameNames[ShiftRight(control & 0x0C, 2)];
  name += std::to_string(ShiftRight(control & 0xE0, 5));
  name += pf ? '-' : 'v';
  return name;
}

void DecodeFrameHeader(std::span<const std::uint8_t> frame, UnescapedFrame& out,
                       FrameHeader& header) {
  for (std::string& d : header.digipeaters) d.clear();
  Unescape(frame, out);

  AssignAddress(header.destination_call, &out.bytes[kDestinationPos - 1],
                Ssid(out.At(kDestinationPos + 6)));
  AssignAddress(header.source_call, &out.bytes[kSourcePos - 1], Ssid(out.At(kSourcePos + 6)));

  int p = kFirstDigipeaterPos;
  if (!IsBitSet(out.At(kSourcePos + 6), 0)) {
    for (int i = 0; i < kMaxDigipeaters; ++i) {
      const std::uint8_t ssid_byte = out.At(p + 6);
      std::string& entry = header.digipeaters[static_cast<std::size_t>(i)];
      AssignAddress(entry, &out.bytes[static_cast<std::size_t>(p - 1)], Ssid(ssid_byte));
      if (IsBitSet(ssid_byte, 7)) entry.push_back('*');
      p += kAddressLength;
      if (IsBitSet(ssid_byte, 0)) break;
    }
  }

  const std::uint8_t control = out.At(p);
  header.control_byte = control;
  header.control_name = ControlNames()[control];
  header.has_pid = IsIFrame(control) || (IsUFrame(control) && UFrameKind(control) == kUiKind);
  if (header.has_pid) {
    header.pid_byte = out.At(p + 1);
    header.payload_start = static_cast<std::int16_t>(p + 2);
  } else {
    header.payload_start = static_cast<std::int16_t>(p + 1);
  }

  std::string& text = header.header_text;
  text = "from ";
  text += header.source_call;
  text += " to ";
  text += header.destination_call;
  if (!header.digipeaters[0].empty()) {
    text += " via ";
    bool first = true;
    for (const std::string& d : header.digipeaters) {
      if (d.empty()) continue;
      if (!first) text += ',';
      text += d;
      first = false;
    }
  }
  text += ": ";
}

}  // namespace zevrin
