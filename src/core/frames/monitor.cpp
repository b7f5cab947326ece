#include "frames/monitor.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace zevrin {

namespace {

constexpr char kCr = '\r';
constexpr char kHexDigits[] = "0123456789ABCDEF";

// The dump text of every byte: two hex digits and a blank, and one spare
// character so that each is copied as one four-byte word.
using HexCell = std::array<char, 4>;
constexpr std::array<HexCell, 256> kHexCells = [] {
  std::array<HexCell, 256> cells{};
  for (int b = 0; b < 256; ++b) {
    cells[static_cast<std::size_t>(b)] = {kHexDigits[b >> 4], kHexDigits[b & 0x0F], ' ', ' '};
  }
  return cells;
}();

// `count` decimal digits of `value` (0 to 10^count - 1), leading zeros included.
void PutDigits(char* at, int value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    at[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// The date and time of the last second a time stamp was written for, on this
// thread: frames come many to a second, and working out a date is the dear part.
struct SecondText {
  bool kept = false;
  std::int64_t seconds = 0;
  std::array<char, 19> text{};  // "0000-00-00 00:00:00"
};
thread_local SecondText last_second;

// FrameTimestamp, appended.
void AppendFrameTimestamp(TextBuilder& line, const UtcInstant& now) {
  static constexpr std::string_view kPattern = "0000-00-00 00:00:00.000";
  const bool real_ms = now.milliseconds >= 0 && now.milliseconds <= 999;
  if (!last_second.kept || now.seconds != last_second.seconds || !real_ms) {
    const CivilTime t = ToCivil(now.seconds);
    if (t.year < 0 || t.year > 9999 || !real_ms) {
      // Outside four-digit years and real milliseconds the fields widen as needed.
      char text[40];
      const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year,
                                  t.month, t.day, t.hour, t.minute, t.second, now.milliseconds);
      line.Append(std::string_view(text, static_cast<std::size_t>(n)));
      return;
    }
    char* p = last_second.text.data();
    kPattern.copy(p, last_second.text.size());
    PutDigits(p, t.year, 4);
    PutDigits(p + 5, t.month, 2);
    PutDigits(p + 8, t.day, 2);
    PutDigits(p + 11, t.hour, 2);
    PutDigits(p + 14, t.minute, 2);
    PutDigits(p + 17, t.second, 2);
    last_second.seconds = now.seconds;
    last_second.kept = true;
  }
  char* p = line.Room(kPattern.size());
  std::memcpy(p, last_second.text.data(), last_second.text.size());
  p[last_second.text.size()] = '.';
  PutDigits(p + 20, now.milliseconds, 3);
  line.Commit(p + kPattern.size());
}

// PadNumber, appended.
void AppendPadNumber(TextBuilder& line, int n, int width) {
  const std::size_t begin = line.size();
  line.Append(n < 0 ? '-' : ' ');
  line.AppendNumber(n < 0 ? -static_cast<long long>(n) : static_cast<long long>(n));
  const int used = static_cast<int>(line.size() - begin);
  if (used < width) {
    char* p = line.Room(static_cast<std::size_t>(width - used));
    std::memset(p, ' ', static_cast<std::size_t>(width - used));
    line.Commit(p + (width - used));
  }
}

}  // namespace

std::string_view FrameTypeText(std::uint8_t command) {
  switch (command) {
    case 0x00:
      return "KISS Frame (without CRC)";
    case 0x80:
      return "SMACK Frame (with CRC)";
    case 0x09:
      return "TIME Frame";
    default:
      return "unknown Protocol";
  }
}

std::string FrameTimestamp(const UtcInstant& now) {
  TextBuilder line;
  AppendFrameTimestamp(line, now);
  return std::string(line.view());
}

std::string PadNumber(int n, int width) {
  TextBuilder line;
  AppendPadNumber(line, n, width);
  return std::string(line.view());
}

std::string HexText(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t b : bytes) {
    text.push_back(kHexDigits[b >> 4]);
    text.push_back(kHexDigits[b & 0x0F]);
    text.push_back(' ');
  }
  return text;
}

std::string AsciiText(std::span<const std::uint8_t> bytes) {
  TextBuilder line;
  AppendAsciiText(line, bytes);
  return std::string(line.view());
}

void AppendAsciiText(TextBuilder& line, std::span<const std::uint8_t> bytes) {
  char* p = line.Room(bytes.size());
  for (const std::uint8_t b : bytes) *p++ = b < 32 ? '.' : static_cast<char>(b);
  line.Commit(p);
}

void AppendDumpLine(TextBuilder& line, std::span<const std::uint8_t> bytes, std::size_t start) {
  AppendPadNumber(line, static_cast<int>(start + 1), 4);
  const std::size_t end = std::min(bytes.size(), start + kDumpBytesPerLine);
  char* p = line.Room(3 + 3 * (end - start) + 1);  // the spare character of the last cell
  *p++ = ' ';
  *p++ = '>';
  *p++ = ' ';
  const std::uint8_t* b = bytes.data() + start;
  const std::uint8_t* const last = bytes.data() + end;
  for (; last - b >= 4; b += 4, p += 12) {  // four at a time: a line has twenty
    std::memcpy(p, kHexCells[b[0]].data(), sizeof(HexCell));
    std::memcpy(p + 3, kHexCells[b[1]].data(), sizeof(HexCell));
    std::memcpy(p + 6, kHexCells[b[2]].data(), sizeof(HexCell));
    std::memcpy(p + 9, kHexCells[b[3]].data(), sizeof(HexCell));
  }
  for (; b < last; ++b, p += 3) std::memcpy(p, kHexCells[*b].data(), sizeof(HexCell));
  line.Commit(p);
}

std::string ControlLine(const FrameHeader& header, const UnescapedFrame& frame) {
  TextBuilder line;
  AppendControlLine(line, header, frame);
  return std::string(line.view());
}

void AppendControlLine(TextBuilder& line, const FrameHeader& header, const UnescapedFrame& frame) {
  line.Append("ctrl: ");
  line.AppendNumber(static_cast<unsigned>(header.control_byte));
  line.Append("   PID: ");
  if (header.has_pid) {
    // Upper-case hex without a leading zero.
    if (header.pid_byte >= 0x10) line.Append(kHexDigits[header.pid_byte >> 4]);
    line.Append(kHexDigits[header.pid_byte & 0x0F]);
  } else {
    line.Append('-');
  }
  line.Append(" {");
  line.Append(header.control_name);
  line.Append("}   ");
  line.AppendNumber(PayloadCount(header, frame));
  line.Append(" Payload Bytes");
}

std::span<const std::uint8_t> PayloadBytes(const FrameHeader& header, const UnescapedFrame& frame) {
  const int first = header.payload_start;       // position of the first payload byte
  const int last = frame.unescaped_length - 1;  // the closing FEND is not dumped
  if (first < 1 || last < first) return {};
  return std::span<const std::uint8_t>(frame.bytes)
      .subspan(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(last - first + 1));
}

int PayloadCount(const FrameHeader& header, const UnescapedFrame& frame) {
  return static_cast<int>(PayloadBytes(header, frame).size());
}

void ShowFrame(std::span<const std::uint8_t> frame, const MonitorOptions& options,
               const UtcInstant& now, UnescapedFrame& unescaped, FrameHeader& header,
               MonitorSink& monitor, DumpLog* dump_log) {
  // Each monitor text is a line with its CR; the dump log gets the same line
  // without it.
  const auto without_cr = [](const TextBuilder& line) {
    return line.view().substr(0, line.size() - 1);
  };
  const std::uint8_t command = frame.size() >= 2 ? frame[1] : 0;
  DumpLog* dump = options.hexdump ? dump_log : nullptr;
  TextBuilder line;
  AppendFrameTimestamp(line, now);
  line.Append(" UTC: [");
  line.AppendNumber(frame.size());
  line.Append(" Bytes ");
  line.Append(FrameTypeText(command));
  line.Append(']');
  line.Append(kCr);
  monitor.AppendMonitorText("\r", ColourRole::kSeparator);
  monitor.AppendMonitorText(line.view(), ColourRole::kSummary);
  if (dump != nullptr) dump->WriteLine(without_cr(line));

  std::span<const std::uint8_t> dumped = frame;
  if (options.analyze_frame) {
    DecodeFrameHeader(frame, unescaped, header);
    line.clear();
    AppendControlLine(line, header, unescaped);
    line.Append(kCr);
    monitor.AppendMonitorText(line.view(), ColourRole::kControl);
    line.clear();
    line.Append(header.header_text);
    line.Append(kCr);
    monitor.AppendMonitorText(line.view(), ColourRole::kAddress);
    dumped = PayloadBytes(header, unescaped);
  }

  for (std::size_t start = 0; start < dumped.size(); start += kDumpBytesPerLine) {
    line.clear();
    AppendDumpLine(line, dumped, start);
    line.Append(kCr);
    monitor.AppendMonitorText(line.view(), ColourRole::kDump);
    if (dump != nullptr) dump->WriteLine(without_cr(line));
  }
  if (dump != nullptr) {
    line.clear();
    AppendAsciiText(line, dumped);
    dump->WriteLine(line.view());
    dump->WriteLine("");
  }
}

}  // namespace zevrin
