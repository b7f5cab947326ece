#pragma once
// Frames as a pcap file for Wireshark: link type 202 (AX.25 behind a KISS
// command byte), each packet at the frame's reception time.

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "outputs/frame_sink.h"

struct pcap;
struct pcap_dumper;

namespace zevrin {

/// The reception times a pcap file keeps: whole seconds since 1970 in 32 bits,
/// which libpcap reads as signed and other readers as unsigned; only the range
/// both agree on reads back the same (1970-01-01 to 2038-01-19 03:14:07.999 UTC).
inline constexpr std::int64_t kPcapEarliestMs = 0;
inline constexpr std::int64_t kPcapLatestMs =
    std::int64_t{std::numeric_limits<std::int32_t>::max()} * 1000 + 999;

class PcapWriter final : public FrameSink {
 public:
  /// Writes the file header to `out` at once. `out` must outlive the writer.
  /// Throws OutputError when it cannot be written.
  explicit PcapWriter(std::FILE* out);
  /// Writes out what is left; keeps quiet about a failure.
  ~PcapWriter() override;
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  /// One packet: the frame without its FENDs and escapes. A frame whose time
  /// the file cannot keep is not written, and the next Flush fails.
  void FrameDecoded(const DecodedFrame& frame) override;
  /// Throws OutputError when the packets cannot be written, or a frame's time
  /// lay outside kPcapEarliestMs to kPcapLatestMs.
  void Flush() override;

 private:
  std::FILE* out_;
  pcap* pcap_ = nullptr;
  pcap_dumper* dumper_ = nullptr;
  std::string time_error_;  // the first frame time the file could not keep
};

}  // namespace zevrin
