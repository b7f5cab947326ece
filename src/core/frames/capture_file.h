#pragma once
// Captures (pcap and pcapng files, as Wireshark and tcpdump keep them) of AX.25
// frames, read through libpcap as the KISS frames a TNC would have sent, each
// with its packet's time.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

struct pcap;

namespace zevrin {

/// Link type 202: AX.25 behind a KISS command byte, as a TNC sends it.
inline constexpr int kLinkTypeAx25Kiss = 202;
/// Link type 3: AX.25 alone; port 0's data command is put before it.
inline constexpr int kLinkTypeAx25 = 3;

/// True when `head` (a file's first bytes) begins with the magic number of a
/// pcap file (either byte order, micro- or nanosecond times) or of a pcapng
/// file. A KISS recording begins with a FEND and is never taken for one.
bool IsCaptureHead(std::span<const std::uint8_t> head);

/// One packet of a capture as a KISS frame.
struct CapturedFrame {
  /// Milliseconds since 1970 UTC; a time beyond what 64 bits of milliseconds
  /// hold is given as the lowest or highest of them.
  std::int64_t received_ms = 0;
  /// FEND, the command byte, the AX.25 frame with FEND and FESC escaped, FEND.
  std::vector<std::uint8_t> kiss;
};

class CaptureReader {
 public:
  CaptureReader() = default;
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  /// Reads the capture from `file`, which it closes in the end (also on
  /// failure). False with error() set when it is no capture of AX.25 frames.
  bool Open(std::FILE* file);
  /// The next packet; false at the end or on a damaged packet (error() set).
  bool Next(CapturedFrame& frame);
  const std::string& error() const { return error_; }

 private:
  pcap* pcap_ = nullptr;
  int link_type_ = 0;
  std::string error_;
};

}  // namespace zevrin
