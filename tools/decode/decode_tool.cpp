#include "decode/decode_tool.h"

#include <string>
#include <string_view>

#include "decode/json.h"
#include "frames/monitor.h"

namespace zevrin {

namespace {

// The caption people see beside a field; the link group's "Mode" is told apart
// from the operating mode.
std::string FieldLabel(int index) {
  const FieldInfo& info = DisplayFieldTable()[static_cast<std::size_t>(index)];
  std::string label;
  if (info.group == FieldGroup::kCom) label = "COM ";
  label += info.caption;
  return label;
}

// Standard CSV quoting: fields with a comma, quote or line break are quoted and
// their quotes doubled.
void AppendCsv(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out.push_back('"');
  for (const char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

// Appends `,"name":{"key":"value",...}` with one member per item.
template <typename Items, typename Key, typename Value>
void AppendObject(std::string& o, std::string_view name, const Items& items, Key key, Value value) {
  o += ",\"";
  o += name;
  o += "\":{";
  bool first = true;
  for (const auto& item : items) {
    if (!first) o += ',';
    first = false;
    json::AppendLatin1String(o, key(item));
    o += ':';
    json::AppendLatin1String(o, value(item));
  }
  o += '}';
}

bool Visible(int index) {
  return DisplayFieldTable()[static_cast<std::size_t>(index)].group != FieldGroup::kHidden;
}

}  // namespace

DecodeTool::DecodeTool(const DecodeToolOptions& options, std::FILE* out, const Clock& clock)
    : options_(options),
      out_(out),
      clock_(clock),
      receive_(state_, clock, *this),
      analysis_(clock) {
  receive_.SetFrameHandler(this);
  analysis_.SetSatelliteDecoder(&telemetry_);
  if (options_.format == OutputFormat::kCsv) WriteCsvHeader();
  if (options_.format == OutputFormat::kMonitor) {
    analysis_.SetMonitor(this);
    analysis_.options().analyze_frame = !options_.raw_view;
  }
}

void DecodeTool::Feed(std::span<const std::uint8_t> bytes) {
  receive_.Receive(bytes);
  if (sink_ != nullptr) sink_->Flush();
}

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
  fields_.BeginFrame();
  analysis_.HandOver(frame, state);
  if (sink_ != nullptr) PassToSink(frame);
  switch (options_.format) {
    case OutputFormat::kJson:
      WriteJson(frame);
      break;
    case OutputFormat::kMonitor:
      if (telemetry_.last_was_satellite()) WriteDecodedValues();
      break;
    case OutputFormat::kCsv:
      if (telemetry_.last_record() != RecordKind::kNone) WriteCsvRow();
      break;
    case OutputFormat::kInflux:
    case OutputFormat::kNone:
      break;
  }
  std::fflush(out_);
}

void DecodeTool::PassToSink(std::span<const std::uint8_t> frame) {
  const UtcInstant now = clock_.Now();
  DecodedFrame decoded;
  decoded.bytes = frame;
  decoded.received_ms = now.seconds * 1000 + now.milliseconds;
  decoded.header = &analysis_.header();
  decoded.record = telemetry_.last_record();
  decoded.fields = &fields_;
  sink_->FrameDecoded(decoded);
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
  const FrameWrites& w = fields_.Writes();
  AppendObject(
      o, "fields", w.fields, [](int i) { return std::to_string(i); },
      [this](int i) { return fields_.Field(i); });
  AppendObject(
      o, "colours", w.coloured, [](int i) { return std::to_string(i); },
      [this](int i) { return FieldColourName(fields_.Colour(i)); });
  AppendObject(
      o, "boxes", w.boxes, [](Box b) { return BoxTable()[static_cast<std::size_t>(b)].json_key; },
      [this](Box b) { return fields_.BoxText(b); });
  AppendObject(
      o, "gauges", w.gauges,
      [](Gauge g) { return GaugeTable()[static_cast<std::size_t>(g)].json_key; },
      [this](Gauge g) { return fields_.GaugeText(g); });
  o += "}\n";
  std::fwrite(o.data(), 1, o.size(), out_);
}

void DecodeTool::WriteDecodedValues() {
  // What the satellite frame wrote, as the main window would show it: caption,
  // value and unit, in the order the decoder wrote them.
  const FrameWrites& w = fields_.Writes();
  std::string& o = line_;
  o.clear();
  for (const Box box : w.boxes) {
    o += "  ";
    o += BoxLabel(box);
    o += ": ";
    o += fields_.BoxText(box);
    o += '\n';
  }
  for (const int index : w.fields) {
    if (!Visible(index)) continue;
    o += "  ";
    o += FieldLabel(index);
    o += ": ";
    o += fields_.Field(index);
    const std::string_view unit = DisplayFieldTable()[static_cast<std::size_t>(index)].unit;
    if (!unit.empty()) {
      o += ' ';
      o += unit;
    }
    const FieldColour colour = fields_.Colour(index);
    if (colour != FieldColour::kNormal) {
      o += "  [";
      o += FieldColourName(colour);
      o += ']';
    }
    o += '\n';
  }
  for (const Gauge gauge : w.gauges) {
    o += "  ";
    o += GaugeLabel(gauge);
    o += ": ";
    o += fields_.GaugeText(gauge);
    o += '\n';
  }
  std::fwrite(o.data(), 1, o.size(), out_);
}

void DecodeTool::WriteCsvHeader() {
  std::string& o = line_;
  o = "frame,record";
  for (int b = 0; b < kBoxCount; ++b) {
    o += ',';
    AppendCsv(o, BoxLabel(static_cast<Box>(b)));
  }
  for (int g = 0; g < kGaugeCount; ++g) {
    o += ',';
    AppendCsv(o, GaugeLabel(static_cast<Gauge>(g)));
  }
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    if (!Visible(index)) continue;
    std::string column = std::to_string(index);
    column += ' ';
    column += FieldLabel(index);
    const std::string_view unit = DisplayFieldTable()[static_cast<std::size_t>(index)].unit;
    if (!unit.empty()) {
      column += " [";
      column += unit;
      column += ']';
    }
    o += ',';
    AppendCsv(o, column);
  }
  o += "\r\n";
  std::fwrite(o.data(), 1, o.size(), out_);
}

void DecodeTool::WriteCsvRow() {
  std::string& o = line_;
  o = std::to_string(frames_);
  o += telemetry_.last_record() == RecordKind::kPower ? ",power" : ",system";
  for (int b = 0; b < kBoxCount; ++b) {
    o += ',';
    AppendCsv(o, fields_.BoxText(static_cast<Box>(b)));
  }
  for (int g = 0; g < kGaugeCount; ++g) {
    o += ',';
    AppendCsv(o, fields_.GaugeText(static_cast<Gauge>(g)));
  }
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    if (!Visible(index)) continue;
    o += ',';
    AppendCsv(o, fields_.Field(index));
  }
  o += "\r\n";
  std::fwrite(o.data(), 1, o.size(), out_);
}

}  // namespace zevrin
