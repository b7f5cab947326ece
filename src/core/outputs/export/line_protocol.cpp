#include "outputs/export/line_protocol.h"

#include "outputs/archive/archive_columns.h"

namespace zevrin {

namespace {

constexpr std::int64_t kNanosecondsPerMillisecond = 1000000;

// Tag values escape commas, blanks and equals signs; line ends cannot be
// escaped and become blanks.
void AppendTagValue(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (c == ',' || c == ' ' || c == '=' || c == '\\') out.push_back('\\');
    out.push_back(c == '\n' || c == '\r' ? ' ' : c);
  }
}

}  // namespace

std::string LineProtocolRecord(const DecodedFrame& frame) {
  std::string line;
  if (frame.record == RecordKind::kNone || frame.fields == nullptr) return line;
  line = RecordTable(frame.record);
  if (!frame.station.empty()) {
    line += ",station=";
    AppendTagValue(line, frame.station);
  }
  const FrameWriteSet written(frame.fields->Writes());
  char separator = ' ';
  for (const ArchiveColumn* column : RecordColumns(frame.record)) {
    if (!column->numeric()) continue;
    const ColumnValue v = ReadColumn(*column, *frame.fields, written);
    if (!v.present) continue;
    line += separator;
    separator = ',';
    line += column->name;
    line += '=';
    if (v.is_integer) {
      line += std::to_string(v.integer);
      line += 'i';
    } else {
      // The window's own text: a plain decimal number, the same that the JSON
      // output and the archive give.
      line += v.text;
    }
  }
  if (separator == ' ') return {};  // no field: not a valid line
  line += ' ';
  line += std::to_string(frame.received_ms * kNanosecondsPerMillisecond);
  line += '\n';
  return line;
}

void LineProtocolWriter::FrameDecoded(const DecodedFrame& frame) {
  const std::string line = LineProtocolRecord(frame);
  if (!line.empty()) std::fwrite(line.data(), 1, line.size(), out_);
}

}  // namespace zevrin
