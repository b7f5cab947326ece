// Captures (pcap and pcapng files) as the decode tool reads them. Arbitrary
// bytes as a capture file: it is refused with a reason, or each packet comes out
// as one whole KISS frame, its escapes complete, that the receive path takes as
// exactly that one frame (when it fits the receive path's buffer). Packet times
// are what the file says, in no set order: they must only be worked out without
// overflow, which the sanitizers watch. And frames written by the program's pcap
// writer read back with the same bytes and times.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "frames/capture_file.h"
#include "frames/frame_header.h"
#include "frames/kiss_frames.h"
#include "fuzz_support.h"
#include "kiss/receive_path.h"
#include "outputs/export/output_buffer.h"
#include "outputs/export/pcap_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using zevrin::fuzz::Require;

// The frames the receive path hands over.
class FrameCollector final : public zevrin::FrameHandler, private zevrin::ReceiveView {
 public:
  explicit FrameCollector(const zevrin::Clock& clock) : path_(state_, clock, *this) {
    path_.SetFrameHandler(this);
  }
  std::vector<Bytes> Read(std::span<const std::uint8_t> bytes) {
    frames_.clear();
    path_.Assemble(bytes);
    return std::move(frames_);
  }
  void HandOver(std::span<const std::uint8_t> frame, zevrin::ReceiveState&) override {
    frames_.emplace_back(frame.begin(), frame.end());
  }

 private:
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view) override {}

  zevrin::ReceiveState state_;
  zevrin::ReceivePath path_;
  std::vector<Bytes> frames_;
};

// A FEND at each end and none between, every FESC followed by TFEND or TFESC.
void CheckWholeKissFrame(const Bytes& kiss) {
  Require(kiss.size() >= 2 && kiss.front() == zevrin::kFend && kiss.back() == zevrin::kFend,
          "a packet is a frame from FEND to FEND");
  for (std::size_t i = 1; i + 1 < kiss.size(); ++i) {
    Require(kiss[i] != zevrin::kFend, "no FEND inside a frame");
    if (kiss[i] == zevrin::kFesc) {
      ++i;
      Require(i + 1 < kiss.size() && (kiss[i] == zevrin::kTfend || kiss[i] == zevrin::kTfesc),
              "every FESC begins an escape");
    }
  }
}

// Reads the capture in `file`: a refusal names its reason; each frame is whole
// and read back by the receive path as itself.
void ReadCapture(const zevrin::fuzz::ScratchFile& file) {
  std::FILE* in = std::fopen(file.path().c_str(), "rb");
  if (in == nullptr) return;
  zevrin::CaptureReader reader;
  if (!reader.Open(in)) {
    Require(!reader.error().empty(), "a refused capture says why");
    return;
  }
  const zevrin::fuzz::FixedClock clock;
  FrameCollector receive(clock);
  zevrin::CapturedFrame frame;
  while (reader.Next(frame)) {
    CheckWholeKissFrame(frame.kiss);
    const std::vector<Bytes> frames = receive.Read(frame.kiss);
    const bool fits = frame.kiss.size() >= 3 &&
                      frame.kiss.size() <= static_cast<std::size_t>(zevrin::kFrameBufferSize);
    if (fits) {
      Require(frames.size() == 1 && frames[0] == frame.kiss,
              "the receive path reads a packet as that one frame");
    } else {
      Require(frames.empty(), "a packet the receive path has no room for is dropped whole");
    }
  }
  Require(!reader.Next(frame), "the end of a capture stays the end");
}

// Frames as the receive path hands them over (FEND, bytes without FEND, FEND,
// at most its buffer) at times the writer takes, through the pcap writer and
// back through the reader.
void RoundTrip(FuzzedDataProvider& provider, const zevrin::fuzz::ScratchFile& file) {
  struct Written {
    Bytes kiss;
    std::int64_t ms;
  };
  std::vector<Written> written(provider.ConsumeIntegralInRange<std::size_t>(0, 8));
  for (Written& w : written) {
    w.ms = provider.ConsumeIntegralInRange<std::int64_t>(zevrin::kPcapEarliestMs,
                                                         zevrin::kPcapLatestMs);
    const auto size = provider.ConsumeIntegralInRange<std::size_t>(
        1, static_cast<std::size_t>(zevrin::kFrameBufferSize) - 2);
    w.kiss.push_back(zevrin::kFend);
    for (std::uint8_t b : provider.ConsumeBytes<std::uint8_t>(size)) {
      w.kiss.push_back(b == zevrin::kFend ? std::uint8_t{0} : b);
    }
    w.kiss.push_back(zevrin::kFend);
  }
  // A time the file cannot keep: that frame is left out and the writer fails.
  std::optional<std::int64_t> outside;
  if (provider.ConsumeBool()) {
    const auto ms = provider.ConsumeIntegral<std::int64_t>();
    if (ms < zevrin::kPcapEarliestMs || ms > zevrin::kPcapLatestMs) outside = ms;
  }
  {
    std::FILE* out = std::fopen(file.path().c_str(), "wb");
    if (out == nullptr) return;
    {
      zevrin::PcapWriter writer(out);
      for (const Written& w : written) {
        zevrin::DecodedFrame decoded;
        decoded.bytes = w.kiss;
        decoded.received_ms = w.ms;
        writer.FrameDecoded(decoded);
      }
      if (outside) {
        static const Bytes kAnyFrame{zevrin::kFend, 0x00, 0x01, zevrin::kFend};
        zevrin::DecodedFrame decoded;
        decoded.bytes = kAnyFrame;
        decoded.received_ms = *outside;
        writer.FrameDecoded(decoded);
      }
      bool failed = false;
      try {
        writer.Flush();
      } catch (const zevrin::OutputError& e) {
        failed = true;
        Require(outside.has_value(), "the capture is written", e.what());
      }
      Require(failed == outside.has_value(), "a time the file cannot keep fails the writer");
    }
    Require(std::fclose(out) == 0, "the capture is written");
  }
  std::FILE* in = std::fopen(file.path().c_str(), "rb");
  if (in == nullptr) return;
  zevrin::CaptureReader reader;
  Require(reader.Open(in), "the program's own capture is read", reader.error());
  zevrin::CapturedFrame frame;
  for (const Written& w : written) {
    Require(reader.Next(frame), "every frame written is read", reader.error());
    Require(frame.received_ms == w.ms, "the same time");
    zevrin::UnescapedFrame sent;
    zevrin::UnescapedFrame got;
    zevrin::Unescape(w.kiss, sent);
    zevrin::Unescape(frame.kiss, got);
    Require(got.unescaped_length == sent.unescaped_length && got.bytes == sent.bytes,
            "the same bytes once the escapes are undone");
  }
  Require(!reader.Next(frame) && reader.error().empty(), "nothing more, and no damage");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const zevrin::fuzz::ScratchFile file("capture");
  Require(file.Write(zevrin::fuzz::AsText(data, size)), "the scratch file is written");
  ReadCapture(file);
  FuzzedDataProvider provider(data, size);
  RoundTrip(provider, file);
  return 0;
}
