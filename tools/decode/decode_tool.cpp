#include "decode/decode_tool.h"

#include "decode/json.h"
#include "frames/monitor.h"

namespace zevrin {

DecodeTool::DecodeTool(const DecodeToolOptions& options, std::FILE* out, const Clock& clock)
    : options_(options), out_(out), receive_(state_, clock, *this), analysis_(clock) {
  receive_.SetFrameHandler(this);
  if (options_.format == OutputFormat::kMonitor) {
    analysis_.SetMonitor(this);
    analysis_.options().analyze_frame = !options_.raw_view;
  }
}

void DecodeTool::Feed(std::span<const std::uint8_t> bytes) { receive_.Receive(bytes); }

void DecodeTool::AppendMonitorText(std::string_view text, ColourRole) {
  // The monitor ends its lines in a lone CR; a terminal wants LF.
  line_.assign(text);
  for (char& c : line_) {
    if (c == '\r') c = '\n';
  }
  std::fwrite(line_.data(), 1, line_.size(), out_);
}

void DecodeTool::HandOver(std::span<const std::uint8_t> frame, ReceiveState& state) {
  ++frames_;
  analysis_.HandOver(frame, state);
  if (options_.format == OutputFormat::kJson) WriteJson(frame);
  std::fflush(out_);
}

void DecodeTool::WriteJson(std::span<const std::uint8_t> frame) {
  const FrameHeader& h = analysis_.header();
  const UnescapedFrame& u = analysis_.unescaped();
  std::string& o = line_;
  o.clear();
  o += "{\"length\":";
  o += std::to_string(frame.size());
  o += ",\"type\":";
  json::AppendLatin1String(o, FrameTypeText(frame.size() >= 2 ? frame[1] : 0));
  o += ",\"destination\":";
  json::AppendLatin1String(o, h.DestinationCall);
  o += ",\"source\":";
  json::AppendLatin1String(o, h.SourceCall);
  o += ",\"digipeaters\":[";
  bool first = true;
  for (const std::string& d : h.Digipeaters) {
    if (d.empty()) continue;
    if (!first) o += ',';
    json::AppendLatin1String(o, d);
    first = false;
  }
  o += "],\"control\":";
  o += std::to_string(h.ControlByte);
  o += ",\"control_name\":";
  json::AppendLatin1String(o, h.ControlName);
  o += ",\"pid\":";
  o += h.HasPid ? std::to_string(h.PidByte) : "null";
  o += ",\"payload_start\":";
  o += std::to_string(h.PayloadStart);
  o += ",\"payload_count\":";
  o += std::to_string(u.UnescapedLength - h.PayloadStart);
  o += ",\"header_text\":";
  json::AppendLatin1String(o, h.HeaderText);
  o += ",\"control_line\":";
  json::AppendLatin1String(o, ControlLine(h, u));
  o += ",\"dump\":[";
  const std::span<const std::uint8_t> payload = PayloadBytes(h, u);
  first = true;
  ForEachDumpLine(payload, [&](std::string_view line) {
    if (!first) o += ',';
    json::AppendLatin1String(o, line);
    first = false;
  });
  o += "],\"ascii\":";
  json::AppendLatin1String(o, AsciiText(payload));
  o += ",\"fields\":{},\"colours\":{},\"boxes\":{},\"gauges\":{}}\n";
  std::fwrite(o.data(), 1, o.size(), out_);
}

}  // namespace zevrin
