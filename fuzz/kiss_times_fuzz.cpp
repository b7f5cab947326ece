// KISS time-stamp frames: the time the program writes into one reads back the
// same; any other bytes are taken for a time stamp only with command byte 0x09
// and eight bytes after undoing the escapes; and in a stream of frames and
// stamps through the decode tool each frame gets the time of the stamp just
// before it, when that time is plausible, and otherwise the clock's.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/decode_tool.h"
#include "frames/frame_header.h"
#include "frames/kiss_frames.h"
#include "fuzz_support.h"
#include "kiss/receive_path.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using zevrin::fuzz::kFixedMs;
using zevrin::fuzz::Require;

void CheckWrittenStamp(std::int64_t ms) {
  Bytes frame;
  zevrin::AppendKissTimestampFrame(frame, ms);
  Require(zevrin::KissTimestamp(frame) == ms, "a written time stamp reads back the same");
}

// What KissTimestamp takes is a command 0x09 and eight bytes once the escapes
// are undone, and the time is those bytes, most significant first.
void CheckTakenStamp(std::span<const std::uint8_t> frame) {
  const std::optional<std::int64_t> ms = zevrin::KissTimestamp(frame);
  if (!ms) return;
  Require(frame.size() >= 2 && frame[1] == zevrin::kKissTimestampCommand,
          "a time stamp has command byte 0x09");
  zevrin::UnescapedFrame u;
  zevrin::Unescape(frame, u);
  Require(u.unescaped_length == 2 + zevrin::kKissTimestampBytes + 1,
          "a time stamp has eight bytes between its command and its closing FEND");
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < zevrin::kKissTimestampBytes; ++i) value = value << 8 | u.bytes[2 + i];
  Require(static_cast<std::int64_t>(value) == *ms, "the time is the eight bytes");
}

// What each frame the sink is told of came with.
struct Told {
  Bytes bytes;
  std::int64_t ms;
  zevrin::TimeSource source;
};

class Recorded final : public zevrin::FrameSink {
 public:
  void FrameDecoded(const zevrin::DecodedFrame& frame) override {
    told.push_back(
        {Bytes(frame.bytes.begin(), frame.bytes.end()), frame.received_ms, frame.time_source});
  }
  void Flush() override {}
  std::vector<Told> told;
};

// The frames the receive path hands over, and how many came before a break.
class FrameCollector final : public zevrin::FrameHandler, private zevrin::ReceiveView {
 public:
  explicit FrameCollector(const zevrin::Clock& clock) : path_(state_, clock, *this) {
    path_.SetFrameHandler(this);
  }
  void Feed(std::span<const std::uint8_t> bytes) { path_.Assemble(bytes); }
  void HandOver(std::span<const std::uint8_t> frame, zevrin::ReceiveState&) override {
    frames.emplace_back(frame.begin(), frame.end());
  }
  std::vector<Bytes> frames;

 private:
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view) override {}

  zevrin::ReceiveState state_;
  zevrin::ReceivePath path_;
};

// A time stamp near one of the times that decide whether it is taken, or any.
std::int64_t StampTime(FuzzedDataProvider& provider) {
  constexpr std::int64_t kDay = 24 * 3600 * 1000;
  const std::int64_t near[] = {kFixedMs, kFixedMs + zevrin::kLatestFrameTimeAheadMs,
                               zevrin::kEarliestFrameTimeMs};
  const auto pick = provider.ConsumeIntegralInRange<std::size_t>(0, std::size(near));
  if (pick == std::size(near)) return provider.ConsumeIntegral<std::int64_t>();
  return near[pick] + provider.ConsumeIntegralInRange<std::int64_t>(-kDay, kDay);
}

// A stream of time stamps, frames and noise, in two inputs one after the other
// as the decode tool reads files: a stamp at the end of one is for no frame of
// the next.
void CheckStreamTimes(FuzzedDataProvider& provider) {
  Bytes first;
  Bytes second;
  const auto items = provider.ConsumeIntegralInRange<std::size_t>(0, 24);
  const auto split = provider.ConsumeIntegralInRange<std::size_t>(0, items);
  for (std::size_t k = 0; k < items; ++k) {
    Bytes& out = k < split ? first : second;
    switch (provider.ConsumeIntegralInRange<int>(0, 2)) {
      case 0:
        zevrin::AppendKissTimestampFrame(out, StampTime(provider));
        break;
      case 1: {
        const Bytes content = provider.ConsumeBytes<std::uint8_t>(
            provider.ConsumeIntegralInRange<std::size_t>(0, 40));
        zevrin::AppendKissFrame(out, content);
        break;
      }
      default: {
        const Bytes noise = provider.ConsumeBytes<std::uint8_t>(
            provider.ConsumeIntegralInRange<std::size_t>(0, 24));
        out.insert(out.end(), noise.begin(), noise.end());
      }
    }
  }

  const zevrin::fuzz::FixedClock clock;
  FrameCollector collector(clock);
  collector.Feed(first);
  const std::size_t before_break = collector.frames.size();
  collector.Feed(second);

  Recorded sink;
  std::FILE* out = std::fopen("/dev/null", "w");
  if (out == nullptr) std::abort();
  {
    zevrin::DecodeTool tool({zevrin::OutputFormat::kNone, false}, out, clock);
    tool.SetFrameSink(&sink);
    tool.Feed(first);
    tool.ForgetNextFrameTime();
    tool.Feed(second);
  }
  std::fclose(out);

  // The time the next frame takes: the last stamp's when plausible.
  std::optional<std::int64_t> next;
  std::size_t told = 0;
  for (std::size_t k = 0; k < collector.frames.size(); ++k) {
    if (k == before_break) next.reset();
    const Bytes& frame = collector.frames[k];
    if (const std::optional<std::int64_t> stamp = zevrin::KissTimestamp(frame)) {
      next = zevrin::IsPlausibleFrameTime(*stamp, kFixedMs) ? stamp : std::nullopt;
      continue;
    }
    Require(told < sink.told.size(), "every frame but the stamps reaches the sink");
    const Told& got = sink.told[told++];
    Require(got.bytes == frame, "the frames reach the sink in order");
    Require(got.ms == next.value_or(kFixedMs), "a frame has its stamp's time, else the clock's");
    Require(got.source == (next ? zevrin::TimeSource::kKiss : zevrin::TimeSource::kLive),
            "a frame's time is told where it came from");
    next.reset();
  }
  Require(told == sink.told.size(), "no time stamp reaches the sink");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckTakenStamp(std::span<const std::uint8_t>(data, size));
  FuzzedDataProvider provider(data, size);
  CheckWrittenStamp(provider.ConsumeIntegral<std::int64_t>());
  CheckTakenStamp(
      provider.ConsumeBytes<std::uint8_t>(provider.ConsumeIntegralInRange<std::size_t>(0, 24)));
  CheckStreamTimes(provider);
  return 0;
}
