#include "outputs/export/line_protocol.h"

#include <charconv>

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

// One line, built field by field: both sources of values share its form.
class LineBuilder {
 public:
  LineBuilder(RecordKind record, std::string_view station) : line_(RecordTable(record)) {
    if (station.empty()) return;
    line_ += ",station=";
    AppendTagValue(line_, station);
  }
  void Integer(std::string_view name, std::int64_t value) {
    Name(name);
    line_ += std::to_string(value);
    line_ += 'i';
  }
  void Number(std::string_view name, std::string_view text) {
    Name(name);
    line_ += text;
  }
  // The line, or empty when no field was added (which would not be a valid line).
  std::string Finish(std::int64_t received_ms) {
    if (separator_ == ' ') return {};
    line_ += ' ';
    line_ += std::to_string(received_ms * kNanosecondsPerMillisecond);
    line_ += '\n';
    return std::move(line_);
  }

 private:
  void Name(std::string_view name) {
    line_ += separator_;
    separator_ = ',';
    line_ += name;
    line_ += '=';
  }
  std::string line_;
  char separator_ = ' ';
};

}  // namespace

std::string LineProtocolRecord(const DecodedFrame& frame) {
  if (frame.record == RecordKind::kNone || frame.fields == nullptr) return {};
  LineBuilder line(frame.record, frame.station);
  const FrameWriteSet written(frame.fields->Writes());
  for (const ArchiveColumn* column : RecordColumns(frame.record)) {
    if (!column->numeric()) continue;
    const ColumnValue v = ReadColumn(*column, *frame.fields, written);
    if (!v.present) continue;
    // The window's own text: a plain decimal number, the same that the JSON
    // output and the archive give.
    if (v.is_integer) {
      line.Integer(column->name, v.integer);
    } else {
      line.Number(column->name, v.text);
    }
  }
  return line.Finish(frame.received_ms);
}

std::string LineProtocolOfValues(RecordKind record, std::string_view station,
                                 std::int64_t received_ms, std::span<const StoredValue> values) {
  const std::span<const ArchiveColumn* const> columns = RecordColumns(record);
  if (columns.empty() || values.size() != columns.size()) return {};
  LineBuilder line(record, station);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const StoredValue& v = values[i];
    if (!columns[i]->numeric()) continue;
    if (v.type == StoredValue::Type::kInteger) {
      line.Integer(columns[i]->name, v.integer);
    } else if (v.type == StoredValue::Type::kReal) {
      char text[32];
      const auto end = std::to_chars(text, text + sizeof text, v.real).ptr;
      line.Number(columns[i]->name, std::string_view(text, static_cast<std::size_t>(end - text)));
    }
  }
  return line.Finish(received_ms);
}

void LineProtocolWriter::FrameDecoded(const DecodedFrame& frame) {
  const std::string line = LineProtocolRecord(frame);
  if (!line.empty()) std::fwrite(line.data(), 1, line.size(), out_);
}

}  // namespace zevrin
