#include "outputs/export/monitor_writer.h"

#include "outputs/export/field_texts.h"

namespace zevrin {

namespace {

// "  label: text" on a line of its own.
void AppendLabelled(TextBuilder& o, std::string_view label, std::string_view text) {
  o.Append("  ");
  o.Append(label);
  o.Append(": ");
  o.Append(text);
  o.Append('\n');
}

// What the satellite frame wrote, as the main window would show it: caption,
// value and unit, in the order the decoder wrote them.
void AppendDecodedValues(TextBuilder& o, const DisplayFields& fields) {
  const FrameWrites& w = fields.Writes();
  const FieldTexts& texts = DisplayFieldTexts();
  for (const Box box : w.boxes) AppendLabelled(o, BoxLabel(box), fields.BoxText(box));
  for (const int index : w.fields) {
    if (FieldInfoOf(index).group == FieldGroup::kHidden) continue;
    o.Append(texts.line_start[static_cast<std::size_t>(index)]);
    o.Append(fields.Field(index));
    o.Append(texts.line_unit[static_cast<std::size_t>(index)]);
    const FieldColour colour = fields.Colour(index);
    if (colour != FieldColour::kNormal) {
      o.Append("  [");
      o.Append(FieldColourName(colour));
      o.Append(']');
    }
    o.Append('\n');
  }
  for (const Gauge gauge : w.gauges) AppendLabelled(o, GaugeLabel(gauge), fields.GaugeText(gauge));
}

}  // namespace

void MonitorTextWriter::AppendMonitorText(std::string_view text, ColourRole) {
  // The monitor ends its lines in a lone CR; a terminal wants LF.
  TextBuilder& o = out_.text();
  char* const start = o.Room(text.size());
  CopyText(start, text.data(), text.size());
  char* const end = start + text.size();
  for (char* c = start; c < end; ++c) *c = *c == '\r' ? '\n' : *c;
  o.Commit(end);
}

void MonitorTextWriter::FrameDecoded(const DecodedFrame& frame) {
  if (frame.from_satellite && frame.fields != nullptr) {
    AppendDecodedValues(out_.text(), *frame.fields);
  }
  out_.WriteIfFull();
}

}  // namespace zevrin
