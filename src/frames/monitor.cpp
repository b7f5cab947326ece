#include "frames/monitor.h"

#include <cstdio>

namespace zevrin {

namespace {
constexpr char kCr = '\r';
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
  const CivilTime t = ToCivil(now.seconds);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, now.milliseconds);
  return text;
}

std::string PadNumber(int n, int width) {
  std::string text = n < 0 ? "-" : " ";
  text += std::to_string(n < 0 ? -static_cast<long long>(n) : n);
  if (static_cast<int>(text.size()) < width)
    text.append(static_cast<std::size_t>(width) - text.size(), ' ');
  return text;
}

std::string HexText(std::span<const std::uint8_t> bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t b : bytes) {
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 0x0F]);
    text.push_back(' ');
  }
  return text;
}

std::string AsciiText(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const std::uint8_t b : bytes) text.push_back(b < 32 ? '.' : static_cast<char>(b));
  return text;
}

std::string ControlLine(const FrameHeader& header, const UnescapedFrame& frame) {
  char pid[8] = "-";
  if (header.HasPid) std::snprintf(pid, sizeof pid, "%X", header.PidByte);
  std::string line = "ctrl: ";
  line += std::to_string(header.ControlByte);
  line += "   PID: ";
  line += pid;
  line += " {";
  line += header.ControlName;
  line += "}   ";
  line += std::to_string(frame.UnescapedLength - header.PayloadStart);
  line += " Payload Bytes";
  return line;
}

std::span<const std::uint8_t> PayloadBytes(const FrameHeader& header, const UnescapedFrame& frame) {
  const int first = header.PayloadStart;       // position of the first payload byte
  const int last = frame.UnescapedLength - 1;  // the closing FEND is not dumped
  if (first < 1 || last < first) return {};
  return std::span<const std::uint8_t>(frame.bytes)
      .subspan(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(last - first + 1));
}

void ShowFrame(std::span<const std::uint8_t> frame, const MonitorOptions& options,
               const UtcInstant& now, UnescapedFrame& unescaped, FrameHeader& header,
               MonitorSink& monitor, DumpLog* dump_log) {
  const std::uint8_t command = frame.size() >= 2 ? frame[1] : 0;
  std::string frame_line = FrameTimestamp(now);
  frame_line += " UTC: [";
  frame_line += std::to_string(frame.size());
  frame_line += " Bytes ";
  frame_line += FrameTypeText(command);
  frame_line += "]";

  DumpLog* dump = options.hexdump ? dump_log : nullptr;
  monitor.AppendMonitorText("\r", ColourRole::kSeparator);
  frame_line.push_back(kCr);
  monitor.AppendMonitorText(frame_line, ColourRole::kSummary);
  frame_line.pop_back();
  if (dump != nullptr) dump->WriteLine(frame_line);

  std::span<const std::uint8_t> dumped = frame;
  if (options.analyze_frame) {
    DecodeFrameHeader(frame, unescaped, header);
    std::string line = ControlLine(header, unescaped);
    line.push_back(kCr);
    monitor.AppendMonitorText(line, ColourRole::kControl);
    line = header.HeaderText;
    line.push_back(kCr);
    monitor.AppendMonitorText(line, ColourRole::kAddress);
    dumped = PayloadBytes(header, unescaped);
  }

  ForEachDumpLine(dumped, [&](std::string_view line) {
    std::string text(line);
    text.push_back(kCr);
    monitor.AppendMonitorText(text, ColourRole::kDump);
    if (dump != nullptr) dump->WriteLine(line);
  });
  if (dump != nullptr) {
    dump->WriteLine(AsciiText(dumped));
    dump->WriteLine("");
  }
}

}  // namespace zevrin
