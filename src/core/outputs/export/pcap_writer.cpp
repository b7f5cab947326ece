#include "outputs/export/pcap_writer.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "frames/capture_file.h"
#include "outputs/export/output_buffer.h"

namespace zevrin {

namespace {

// Longest packet the file announces; a frame is at most 512 bytes.
constexpr int kSnapLength = 65535;

[[noreturn]] void ThrowWriteError(int error) {
  throw OutputError(std::string("cannot write output: ") + std::strerror(error));
}

}  // namespace

PcapWriter::PcapWriter(std::FILE* out) : out_(out) {
  pcap_ = pcap_open_dead_with_tstamp_precision(kLinkTypeAx25Kiss, kSnapLength,
                                               PCAP_TSTAMP_PRECISION_MICRO);
  if (pcap_ != nullptr) dumper_ = pcap_dump_fopen(pcap_, out_);
  if (dumper_ == nullptr) ThrowWriteError(errno != 0 ? errno : EIO);
}

PcapWriter::~PcapWriter() {
  // pcap_dump_close would close the caller's stream: only flush it.
  if (dumper_ != nullptr) pcap_dump_flush(dumper_);
  if (pcap_ != nullptr) pcap_close(pcap_);
}

void PcapWriter::FrameDecoded(const DecodedFrame& frame) {
  // Written anyway, the seconds would wrap round to another time.
  if (frame.received_ms < kPcapEarliestMs || frame.received_ms > kPcapLatestMs) {
    if (time_error_.empty()) {
      time_error_ = "cannot write output: a frame's time " + std::to_string(frame.received_ms) +
                    " ms lies outside what a pcap file keeps (1970-01-01 to 2038-01-19 "
                    "03:14:07 UTC)";
    }
    return;
  }
  UnescapedFrame own;
  const UnescapedFrame* u = frame.unescaped;
  if (u == nullptr) {
    Unescape(frame.bytes, own);
    u = &own;
  }
  // The unescaped frame still has its opening and closing FEND.
  const int length = u->unescaped_length;
  const auto size = static_cast<bpf_u_int32>(length >= 2 ? length - 2 : 0);
  pcap_pkthdr header{};
  const UtcInstant received = FromUtcMillis(frame.received_ms);
  header.ts.tv_sec = static_cast<time_t>(received.seconds);
  header.ts.tv_usec = static_cast<suseconds_t>(received.milliseconds * 1000);
  header.caplen = size;
  header.len = size;
  pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, u->bytes.data() + 1);
}

void PcapWriter::Flush() {
  if (!time_error_.empty()) throw OutputError(time_error_);
  if (pcap_dump_flush(dumper_) != 0 || std::ferror(out_)) ThrowWriteError(errno != 0 ? errno : EIO);
}

}  // namespace zevrin
