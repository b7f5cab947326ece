#pragma once
// Housekeeping records as CSV rows, for a spreadsheet.

#include <cstdint>

#include "outputs/export/output_buffer.h"
#include "outputs/frame_sink.h"

namespace zevrin {

/// A heading row first, then one row per housekeeping record, CRLF-ended: the
/// frame's number (counting every frame from 1), the record ("power" or
/// "system"), then every bottom-row box, every gauge and every display field the
/// window shows, as they stand after the record, including what earlier frames
/// wrote.
class CsvWriter final : public FrameSink {
 public:
  /// Writes the heading row; `out` must outlive the writer.
  explicit CsvWriter(OutputBuffer& out);

  void FrameDecoded(const DecodedFrame& frame) override;

 private:
  void AppendRow(RecordKind record, const DisplayFields& fields);

  OutputBuffer& out_;
  std::uint64_t frames_ = 0;  // frames seen, the one being written included
};

}  // namespace zevrin
