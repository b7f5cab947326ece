#include "outputs/export/json_writer.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "frames/monitor.h"
#include "outputs/export/json.h"

namespace zevrin {

namespace {

// One member `"key":"value"` of a JSON object.
void AppendMember(TextBuilder& o, int key, std::string_view value) {
  o.Append('"');
  o.AppendNumber(key);
  o.Append("\":");
  json::AppendLatin1String(o, value);
}
void AppendMember(TextBuilder& o, std::string_view key, std::string_view value) {
  json::AppendLatin1String(o, key);
  o.Append(':');
  json::AppendLatin1String(o, value);
}

// Appends `,"name":{...}` with the member that `member` writes for each item.
template <typename Items, typename Member>
void AppendObject(TextBuilder& o, std::string_view name, const Items& items, Member member) {
  o.Append(",\"");
  o.Append(name);
  o.Append("\":{");
  bool first = true;
  for (const auto& item : items) {
    if (!first) o.Append(',');
    first = false;
    member(item);
  }
  o.Append('}');
}

// The members of what the frame wrote into the store.
void AppendWrites(TextBuilder& o, const DisplayFields& fields) {
  const FrameWrites& w = fields.Writes();
  AppendObject(o, "fields", w.fields, [&](int i) { AppendMember(o, i, fields.Field(i)); });
  AppendObject(o, "colours", w.coloured,
               [&](int i) { AppendMember(o, i, FieldColourName(fields.Colour(i))); });
  AppendObject(o, "boxes", w.boxes, [&](Box b) {
    AppendMember(o, BoxTable()[static_cast<std::size_t>(b)].json_key, fields.BoxText(b));
  });
  AppendObject(o, "gauges", w.gauges, [&](Gauge g) {
    AppendMember(o, GaugeTable()[static_cast<std::size_t>(g)].json_key, fields.GaugeText(g));
  });
}

}  // namespace

void JsonWriter::FrameDecoded(const DecodedFrame& frame) {
  if (frame.header != nullptr && frame.unescaped != nullptr && frame.fields != nullptr) {
    AppendFrame(frame);
  }
  out_.WriteIfFull();
}

void JsonWriter::AppendFrame(const DecodedFrame& frame) {
  const FrameHeader& h = *frame.header;
  const UnescapedFrame& u = *frame.unescaped;
  TextBuilder& o = out_.text();
  o.Append("{\"received_ms\":");
  o.AppendNumber(frame.received_ms);
  o.Append(",\"time_source\":\"");
  o.Append(TimeSourceName(frame.time_source));
  o.Append("\",\"length\":");
  o.AppendNumber(frame.bytes.size());
  o.Append(",\"type\":");
  json::AppendLatin1String(o, FrameTypeText(frame.bytes.size() >= 2 ? frame.bytes[1] : 0));
  o.Append(",\"destination\":");
  json::AppendLatin1String(o, h.destination_call);
  o.Append(",\"source\":");
  json::AppendLatin1String(o, h.source_call);
  o.Append(",\"digipeaters\":[");
  bool first = true;
  for (const std::string& d : h.digipeaters) {
    if (d.empty()) continue;
    if (!std::exchange(first, false)) o.Append(',');
    json::AppendLatin1String(o, d);
  }
  o.Append("],\"control\":");
  o.AppendNumber(h.control_byte);
  o.Append(",\"control_name\":");
  json::AppendLatin1String(o, h.control_name);
  o.Append(",\"pid\":");
  if (h.has_pid) {
    o.AppendNumber(h.pid_byte);
  } else {
    o.Append("null");
  }
  o.Append(",\"payload_start\":");
  o.AppendNumber(h.payload_start);
  o.Append(",\"payload_count\":");
  o.AppendNumber(PayloadCount(h, u));
  AppendMonitorTexts(h, u);
  AppendWrites(o, *frame.fields);
  o.Append("}\n");
}

// The texts the monitor shows of the frame: header line, control line, hex dump
// and ASCII text of the payload.
void JsonWriter::AppendMonitorTexts(const FrameHeader& h, const UnescapedFrame& u) {
  TextBuilder& o = out_.text();
  o.Append(",\"header_text\":");
  json::AppendLatin1String(o, h.header_text);
  o.Append(",\"control_line\":");
  TextBuilder& line = scratch_;  // its room is kept for the next frame
  line.clear();
  AppendControlLine(line, h, u);
  json::AppendLatin1String(o, line.view());
  o.Append(",\"dump\":[");
  const std::span<const std::uint8_t> payload = PayloadBytes(h, u);
  for (std::size_t start = 0; start < payload.size(); start += kDumpBytesPerLine) {
    if (start != 0) o.Append(',');
    // A dump line is digits, blanks, '>' and hex digits: nothing in it to escape.
    o.Append('"');
    AppendDumpLine(o, payload, start);
    o.Append('"');
  }
  o.Append("],\"ascii\":");
  line.clear();
  AppendAsciiText(line, payload);
  json::AppendLatin1String(o, line.view());
}

}  // namespace zevrin
