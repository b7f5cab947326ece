#include "frames/capture_file.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "frames/kiss_frames.h"

namespace zevrin {

namespace {

// The first four bytes of a pcap file in both byte orders, with microsecond and
// with nanosecond times, and of a pcapng file (its section header block).
constexpr std::array<std::array<std::uint8_t, 4>, 5> kCaptureMagics = {{
    {0xD4, 0xC3, 0xB2, 0xA1},
    {0xA1, 0xB2, 0xC3, 0xD4},
    {0x4D, 0x3C, 0xB2, 0xA1},
    {0xA1, 0xB2, 0x3C, 0x4D},
    {0x0A, 0x0D, 0x0D, 0x0A},
}};

// The KISS command byte of data frames for port 0.
constexpr std::uint8_t kDataCommand = 0x00;

// A packet's time in milliseconds. A pcapng file may hold times too far from
// 1970 for that (64-bit counts of whole seconds): those are held at the nearest
// end of the range, which no frame takes as its time.
std::int64_t Milliseconds(const timeval& ts) {
  constexpr std::int64_t kEarliest = std::numeric_limits<std::int64_t>::min();
  constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max();
  const auto seconds = static_cast<std::int64_t>(ts.tv_sec);
  const auto rest = static_cast<std::int64_t>(ts.tv_usec) / 1000;
  std::int64_t ms = 0;
  if (__builtin_mul_overflow(seconds, std::int64_t{1000}, &ms)) {
    return seconds < 0 ? kEarliest : kLatest;
  }
  if (__builtin_add_overflow(ms, rest, &ms)) return rest < 0 ? kEarliest : kLatest;
  return ms;
}

}  // namespace

bool IsCaptureHead(std::span<const std::uint8_t> head) {
  return std::ranges::any_of(kCaptureMagics, [&](const auto& magic) {
    return head.size() >= magic.size() && std::equal(magic.begin(), magic.end(), head.begin());
  });
}

CaptureReader::~CaptureReader() {
  if (pcap_ != nullptr) pcap_close(pcap_);
}

bool CaptureReader::Open(std::FILE* file) {
  char error[PCAP_ERRBUF_SIZE] = "";
  // Times are read in microseconds whatever the file keeps; milliseconds are kept.
  pcap_ = pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_MICRO, error);
  if (pcap_ == nullptr) {
    std::fclose(file);
    error_ = error;
    return false;
  }
  link_type_ = pcap_datalink(pcap_);
  if (link_type_ != kLinkTypeAx25Kiss && link_type_ != kLinkTypeAx25) {
    error_ = "link type " + std::to_string(link_type_) + " is not AX.25 (3 or 202)";
    return false;
  }
  return true;
}

bool CaptureReader::Next(CapturedFrame& frame) {
  if (pcap_ == nullptr || !error_.empty()) return false;
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  const int result = pcap_next_ex(pcap_, &header, &data);
  if (result != 1) {
    if (result == PCAP_ERROR) error_ = pcap_geterr(pcap_);
    return false;
  }
  frame.received_ms = Milliseconds(header->ts);
  // Only what was captured is there: a packet cut short is passed on short.
  std::vector<std::uint8_t> content;
  content.reserve(header->caplen + 1);
  if (link_type_ == kLinkTypeAx25) content.push_back(kDataCommand);
  content.insert(content.end(), data, data + header->caplen);
  frame.kiss.clear();
  AppendKissFrame(frame.kiss, content);
  return true;
}

}  // namespace zevrin
