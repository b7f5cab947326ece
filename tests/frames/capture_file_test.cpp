// Captures: the times a pcap file is written with, and the times read from a
// capture, held to what the file and the program can keep.

#include "frames/capture_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "frames/kiss_frames.h"
#include "outputs/export/output_buffer.h"
#include "outputs/export/pcap_writer.h"
#include "support/fakes.h"

namespace zevrin {
namespace {

using testing::Bytes;

constexpr std::int64_t kNowMs = 1721222496000;  // 2024-07-17

// Reads every packet of the capture in `file` (closed by the reader).
std::vector<CapturedFrame> ReadAll(std::FILE* file) {
  std::vector<CapturedFrame> frames;
  CaptureReader reader;
  EXPECT_TRUE(reader.Open(file)) << reader.error();
  for (CapturedFrame frame; reader.Next(frame);) frames.push_back(frame);
  EXPECT_EQ(reader.error(), "");
  return frames;
}

// A pcap file keeps whole seconds in 32 bits: a frame outside 1970 to 2038 is
// not written with a time wrapped round to another, and the writer fails.
TEST(PcapWriterTest, ATimeTheFileCannotKeepFailsInsteadOfWrappingRound) {
  const Bytes kiss{0xC0, 0x00, 0x82, 0xC0};
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    PcapWriter writer(file);
    for (const std::int64_t ms :
         {kPcapEarliestMs, kPcapLatestMs, kPcapLatestMs + 1, std::int64_t{-1}, kNowMs}) {
      DecodedFrame frame;
      frame.bytes = kiss;
      frame.received_ms = ms;
      writer.FrameDecoded(frame);
    }
    EXPECT_THROW(writer.Flush(), OutputError);
  }
  std::rewind(file);
  std::vector<std::int64_t> times;
  for (const CapturedFrame& frame : ReadAll(file)) {
    EXPECT_EQ(frame.kiss, kiss);
    times.push_back(frame.received_ms);
  }
  EXPECT_EQ(times, (std::vector<std::int64_t>{kPcapEarliestMs, kPcapLatestMs, kNowMs}));
}

// A pcapng interface may count whole seconds in 64 bits: a time past what 64
// bits of milliseconds hold is never taken for a plausible one by wrapping round.
TEST(CaptureReaderTest, APcapngTimeBeyondMillisecondsIsNoPlausibleTime) {
  Bytes file;
  const auto u32 = [&file](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  // Section header; an interface of link type 202 with if_tsresol 10^0 (seconds).
  for (const std::uint32_t v : {0x0A0D0D0Au, 28u, 0x1A2B3C4Du, 1u, ~0u, ~0u, 28u}) u32(v);
  for (const std::uint32_t v : {1u, 32u, 202u, 0u, 0x00010009u, 0u, 0u, 32u}) u32(v);
  // Seconds whose product with 1000 wraps round to kNowMs in 64 bits.
  constexpr std::uint64_t kWraps = kNowMs / 1000 + (std::uint64_t{1} << 61);
  static_assert(kWraps * 1000 == static_cast<std::uint64_t>(kNowMs));
  for (const std::uint32_t v : {6u, 36u, 0u, static_cast<std::uint32_t>(kWraps >> 32),
                                static_cast<std::uint32_t>(kWraps), 2u, 2u}) {
    u32(v);
  }
  file.insert(file.end(), {0x00, 0x82, 0x00, 0x00});
  u32(36);
  std::FILE* in = fmemopen(file.data(), file.size(), "rb");
  ASSERT_NE(in, nullptr);
  const std::vector<CapturedFrame> frames = ReadAll(in);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kiss, (Bytes{0xC0, 0x00, 0x82, 0xC0}));
  EXPECT_FALSE(IsPlausibleFrameTime(frames[0].received_ms, kNowMs)) << frames[0].received_ms;
}

}  // namespace
}  // namespace zevrin
