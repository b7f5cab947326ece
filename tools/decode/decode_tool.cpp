#include "decode/decode_tool.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decode/json.h"
#include "frames/monitor.h"

namespace zevrin {

namespace {

// Output is written once this much has gathered: few system calls, yet little
// memory. A pipe holds 64 KiB.
constexpr std::size_t kWriteBlockSize = 128 * 1024;

const FieldInfo& Info(int index) { return DisplayFieldTable()[static_cast<std::size_t>(index)]; }

// The texts the tool prints for the display fields, worked out once.
struct FieldTexts {
  // The caption people see beside a field; the link group's "Mode" is told apart
  // from the operating mode.
  std::array<std::string, kDisplayFieldCount> label;
  // A line of the monitor format's values: "  caption: " before the value, the
  // unit after it (" V"; empty when none).
  std::array<std::string, kDisplayFieldCount> line_start;
  std::array<std::string, kDisplayFieldCount> line_unit;
  // The fields the window shows, in index order; hidden ones are left out.
  std::vector<int> visible;
};

const FieldTexts& Texts() {
  static const FieldTexts texts = [] {
    FieldTexts t;
    for (int index = 0; index < kDisplayFieldCount; ++index) {
      const FieldInfo& info = Info(index);
      std::string& label = t.label[static_cast<std::size_t>(index)];
      if (info.group == FieldGroup::kCom) label = "COM ";
      label += info.caption;
      t.line_start[static_cast<std::size_t>(index)] = std::string("  ").append(label).append(": ");
      if (!info.unit.empty()) {
        t.line_unit[static_cast<std::size_t>(index)] = std::string(" ").append(info.unit);
      }
      if (info.group != FieldGroup::kHidden) t.visible.push_back(index);
    }
    return t;
  }();
  return texts;
}

// The characters that make a CSV field quoted.
constexpr std::array<bool, 256> kCsvSpecial = [] {
  std::array<bool, 256> special{};
  for (const char c : {',', '"', '\r', '\n'}) special[static_cast<unsigned char>(c)] = true;
  return special;
}();

// Standard CSV quoting: fields with a comma, quote or line break are quoted and
// their quotes doubled.
void AppendCsv(TextBuilder& out, std::string_view text) {
  // Copied as it is while it is checked; nearly every field is plain.
  char* p = out.Room(text.size());
  bool special = false;
  for (const char c : text) {
    special |= kCsvSpecial[static_cast<unsigned char>(c)];
    *p++ = c;
  }
  if (!special) {
    out.Commit(p);
    return;
  }
  out.Append('"');
  for (const char c : text) {
    if (c == '"') out.Append('"');
    out.Append(c);
  }
  out.Append('"');
}

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

}  // namespace

DecodeTool::DecodeTool(const DecodeToolOptions& options, std::FILE* out, const Clock& clock)
    : options_(options),
      out_(out),
      out_fd_(::fileno(out)),
      clock_(clock),
      receive_(state_, clock, *this),
      analysis_(clock) {
  // Whatever the caller has put into the stream goes out before the tool's own
  // output, which bypasses the stream's buffer.
  if (out_fd_ >= 0 && std::fflush(out_) != 0) write_error_ = errno;
  receive_.SetFrameHandler(this);
  analysis_.SetSatelliteDecoder(&telemetry_);
  if (options_.format == OutputFormat::kCsv) WriteCsvHeader();
  if (options_.format == OutputFormat::kMonitor) {
    analysis_.SetMonitor(this);
    analysis_.options().analyze_frame = !options_.raw_view;
  }
}

DecodeTool::~DecodeTool() { WriteOut(); }

void DecodeTool::Feed(std::span<const std::uint8_t> bytes) {
  receive_.Receive(bytes);
  if (sink_ != nullptr) sink_->Flush();
  ThrowIfFailed();
}

void DecodeTool::Flush() {
  WriteOut();
  ThrowIfFailed();
}

void DecodeTool::ThrowIfFailed() const {
  if (write_error_ != 0) {
    throw OutputError(std::string("cannot write output: ") + std::strerror(write_error_));
  }
}

void DecodeTool::WriteOut() {
  const char* p = text_.data();
  std::size_t left = write_error_ == 0 ? text_.size() : 0;  // after a failure: dropped
  text_.clear();
  if (out_fd_ < 0) {
    // A stream without a descriptor (in memory): through the stream itself.
    if ((left > 0 && std::fwrite(p, 1, left, out_) != left) || std::fflush(out_) != 0) {
      write_error_ = errno != 0 ? errno : EIO;
    }
    return;
  }
  while (left > 0) {
    const ssize_t n = ::write(out_fd_, p, left);
    if (n > 0) {
      p += n;
      left -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A descriptor in non-blocking mode: wait until it takes more.
      pollfd writable{out_fd_, POLLOUT, 0};
      ::poll(&writable, 1, -1);
    } else {
      write_error_ = n < 0 ? errno : EIO;
      return;
    }
  }
}

void DecodeTool::AppendMonitorText(std::string_view text, ColourRole) {
  // The monitor ends its lines in a lone CR; a terminal wants LF.
  char* const start = text_.Room(text.size());
  CopyText(start, text.data(), text.size());
  char* const end = start + text.size();
  for (char* c = start; c < end; ++c) *c = *c == '\r' ? '\n' : *c;
  text_.Commit(end);
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
  if (text_.size() >= kWriteBlockSize) WriteOut();
}

void DecodeTool::PassToSink(std::span<const std::uint8_t> frame) {
  const UtcInstant now = clock_.Now();
  DecodedFrame decoded;
  decoded.bytes = frame;
  decoded.received_ms = ToUtcMillis(now);
  decoded.header = &analysis_.header();
  decoded.record = telemetry_.last_record();
  decoded.fields = &fields_;
  sink_->FrameDecoded(decoded);
}

void DecodeTool::WriteJson(std::span<const std::uint8_t> frame) {
  const FrameHeader& h = analysis_.header();
  const UnescapedFrame& u = analysis_.unescaped();
  TextBuilder& o = text_;
  o.Append("{\"length\":");
  o.AppendNumber(frame.size());
  o.Append(",\"type\":");
  json::AppendLatin1String(o, FrameTypeText(frame.size() >= 2 ? frame[1] : 0));
  o.Append(",\"destination\":");
  json::AppendLatin1String(o, h.destination_call);
  o.Append(",\"source\":");
  json::AppendLatin1String(o, h.source_call);
  o.Append(",\"digipeaters\":[");
  bool first = true;
  for (const std::string& d : h.digipeaters) {
    if (d.empty()) continue;
    if (!first) o.Append(',');
    json::AppendLatin1String(o, d);
    first = false;
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
  o.AppendNumber(u.unescaped_length - h.payload_start);
  o.Append(",\"header_text\":");
  json::AppendLatin1String(o, h.header_text);
  o.Append(",\"control_line\":");
  TextBuilder& line = scratch_;  // its room is kept for the next frame
  line.clear();
  AppendControlLine(line, h, u);
  json::AppendLatin1String(o, line.view());
  o.Append(",\"dump\":[");
  const std::span<const std::uint8_t> payload = PayloadBytes(h, u);
  first = true;
  ForEachDumpLine(payload, [&](std::string_view dump_line) {
    if (!std::exchange(first, false)) o.Append(',');
    json::AppendLatin1String(o, dump_line);
  });
  o.Append("],\"ascii\":");
  line.clear();
  AppendAsciiText(line, payload);
  json::AppendLatin1String(o, line.view());
  const FrameWrites& w = fields_.Writes();
  AppendObject(o, "fields", w.fields, [&](int i) { AppendMember(o, i, fields_.Field(i)); });
  AppendObject(o, "colours", w.coloured,
               [&](int i) { AppendMember(o, i, FieldColourName(fields_.Colour(i))); });
  AppendObject(o, "boxes", w.boxes, [&](Box b) {
    AppendMember(o, BoxTable()[static_cast<std::size_t>(b)].json_key, fields_.BoxText(b));
  });
  AppendObject(o, "gauges", w.gauges, [&](Gauge g) {
    AppendMember(o, GaugeTable()[static_cast<std::size_t>(g)].json_key, fields_.GaugeText(g));
  });
  o.Append("}\n");
}

void DecodeTool::WriteDecodedValues() {
  // What the satellite frame wrote, as the main window would show it: caption,
  // value and unit, in the order the decoder wrote them.
  const FrameWrites& w = fields_.Writes();
  const FieldTexts& texts = Texts();
  TextBuilder& o = text_;
  for (const Box box : w.boxes) {
    o.Append("  ");
    o.Append(BoxLabel(box));
    o.Append(": ");
    o.Append(fields_.BoxText(box));
    o.Append('\n');
  }
  for (const int index : w.fields) {
    if (Info(index).group == FieldGroup::kHidden) continue;
    o.Append(texts.line_start[static_cast<std::size_t>(index)]);
    o.Append(fields_.Field(index));
    o.Append(texts.line_unit[static_cast<std::size_t>(index)]);
    const FieldColour colour = fields_.Colour(index);
    if (colour != FieldColour::kNormal) {
      o.Append("  [");
      o.Append(FieldColourName(colour));
      o.Append(']');
    }
    o.Append('\n');
  }
  for (const Gauge gauge : w.gauges) {
    o.Append("  ");
    o.Append(GaugeLabel(gauge));
    o.Append(": ");
    o.Append(fields_.GaugeText(gauge));
    o.Append('\n');
  }
}

void DecodeTool::WriteCsvHeader() {
  TextBuilder& o = text_;
  o.Append("frame,record");
  for (int b = 0; b < kBoxCount; ++b) {
    o.Append(',');
    AppendCsv(o, BoxLabel(static_cast<Box>(b)));
  }
  for (int g = 0; g < kGaugeCount; ++g) {
    o.Append(',');
    AppendCsv(o, GaugeLabel(static_cast<Gauge>(g)));
  }
  for (const int index : Texts().visible) {
    std::string column = std::to_string(index);
    column += ' ';
    column += Texts().label[static_cast<std::size_t>(index)];
    const std::string_view unit = Info(index).unit;
    if (!unit.empty()) {
      column += " [";
      column += unit;
      column += ']';
    }
    o.Append(',');
    AppendCsv(o, column);
  }
  o.Append("\r\n");
}

void DecodeTool::WriteCsvRow() {
  TextBuilder& o = text_;
  o.AppendNumber(frames_);
  o.Append(telemetry_.last_record() == RecordKind::kPower ? ",power" : ",system");
  for (int b = 0; b < kBoxCount; ++b) {
    o.Append(',');
    AppendCsv(o, fields_.BoxText(static_cast<Box>(b)));
  }
  for (int g = 0; g < kGaugeCount; ++g) {
    o.Append(',');
    AppendCsv(o, fields_.GaugeText(static_cast<Gauge>(g)));
  }
  for (const int index : Texts().visible) {
    o.Append(',');
    AppendCsv(o, fields_.Field(index));
  }
  o.Append("\r\n");
}

}  // namespace zevrin
