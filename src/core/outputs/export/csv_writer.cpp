#include "outputs/export/csv_writer.h"

#include <string>

#include "base/csv.h"
#include "outputs/export/field_texts.h"

namespace zevrin {

CsvWriter::CsvWriter(OutputBuffer& out) : out_(out) {
  TextBuilder& o = out_.text();
  o.Append("frame,record");
  for (int b = 0; b < kBoxCount; ++b) {
    o.Append(',');
    AppendCsvField(o, BoxLabel(static_cast<Box>(b)));
  }
  for (int g = 0; g < kGaugeCount; ++g) {
    o.Append(',');
    AppendCsvField(o, GaugeLabel(static_cast<Gauge>(g)));
  }
  const FieldTexts& texts = DisplayFieldTexts();
  for (const int index : texts.visible) {
    // "12 caption [unit]"
    std::string column = std::to_string(index);
    column += ' ';
    column += texts.label[static_cast<std::size_t>(index)];
    const std::string_view unit = FieldInfoOf(index).unit;
    if (!unit.empty()) {
      column += " [";
      column += unit;
      column += ']';
    }
    o.Append(',');
    AppendCsvField(o, column);
  }
  o.Append("\r\n");
}

void CsvWriter::FrameDecoded(const DecodedFrame& frame) {
  ++frames_;
  if (frame.record != RecordKind::kNone && frame.fields != nullptr) {
    AppendRow(frame.record, *frame.fields);
  }
  out_.WriteIfFull();
}

void CsvWriter::AppendRow(RecordKind record, const DisplayFields& fields) {
  TextBuilder& o = out_.text();
  o.AppendNumber(frames_);
  o.Append(record == RecordKind::kPower ? ",power" : ",system");
  for (int b = 0; b < kBoxCount; ++b) {
    o.Append(',');
    AppendCsvField(o, fields.BoxText(static_cast<Box>(b)));
  }
  for (int g = 0; g < kGaugeCount; ++g) {
    o.Append(',');
    AppendCsvField(o, fields.GaugeText(static_cast<Gauge>(g)));
  }
  for (const int index : DisplayFieldTexts().visible) {
    o.Append(',');
    AppendCsvField(o, fields.Field(index));
  }
  o.Append("\r\n");
}

}  // namespace zevrin
