#pragma once
// Frames as a pcap file for Wireshark: link type 202 (AX.25 behind a KISS
// command byte), each packet at the frame's reception time.

#include <cstdio>

#include "outputs/frame_sink.h"

struct pcap;
struct pcap_dumper;

namespace zevrin {

class PcapWriter final : public FrameSink {
 public:
  /// Writes the file header to `out` at once. `out` must outlive the writer.
  /// Throws OutputError when it cannot be written.
  explicit PcapWriter(std::FILE* out);
  /// Writes out what is left; keeps quiet about a failure.
  ~PcapWriter() override;
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  /// One packet: the frame without its FENDs and escapes.
  void FrameDecoded(const DecodedFrame& frame) override;
  /// Throws OutputError when the packets cannot be written.
  void Flush() override;

 private:
  std::FILE* out_;
  pcap* pcap_ = nullptr;
  pcap_dumper* dumper_ = nullptr;
};

}  // namespace zevrin
