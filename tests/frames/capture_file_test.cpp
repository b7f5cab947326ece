// Captures: the times a pcap file is written with, and the times read from a
// capture, held to what the file and the program can keep.

#include "frames/capture_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <utility>
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
      writer.FrameDecoded({.bytes = kiss, .received_ms = ms, .station = {}, .link = {}});
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

// A pcapng file: a section header, one interface of link type 202 with the
// option words `options`, and a packet block for each packet at its time in the
// interface's units.
Bytes Pcapng(std::vector<std::uint32_t> options,
             const std::vector<std::pair<std::uint64_t, Bytes>>& packets) {
  Bytes file;
  const auto u32 = [&file](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  for (const std::uint32_t v : {0x0A0D0D0Au, 28u, 0x1A2B3C4Du, 1u, ~0u, ~0u, 28u}) u32(v);
  const auto interface = static_cast<std::uint32_t>(20 + 4 * options.size());
  for (const std::uint32_t v : {1u, interface, 202u, 0u}) u32(v);
  for (const std::uint32_t v : options) u32(v);
  u32(interface);
  for (const auto& [time, data] : packets) {
    const auto padded = static_cast<std::uint32_t>((data.size() + 3) / 4 * 4);
    const auto size = static_cast<std::uint32_t>(data.size());
    for (const std::uint32_t v : {6u, 32 + padded, 0u, static_cast<std::uint32_t>(time >> 32),
                                  static_cast<std::uint32_t>(time), size, size}) {
      u32(v);
    }
    file.insert(file.end(), data.begin(), data.end());
    file.resize(file.size() + padded - data.size(), 0);
    u32(32 + padded);
  }
  return file;
}

std::vector<CapturedFrame> ReadAll(Bytes& file) {
  std::FILE* in = fmemopen(file.data(), file.size(), "rb");
  EXPECT_NE(in, nullptr);
  return in == nullptr ? std::vector<CapturedFrame>{} : ReadAll(in);
}

// Packets of a pcapng file (in microseconds by default) are read with their times
// and escaped into KISS frames. An interface may count whole seconds in 64 bits
// (if_tsresol 10^0): a time past what 64 bits of milliseconds hold is never taken
// for a plausible one by wrapping round.
TEST(CaptureReaderTest, PcapngPacketsAreReadAtTheirTimesAndNeverWrapRound) {
  Bytes file = Pcapng({}, {{kNowMs * 1000 + 999, {0x00, 0x82, 0xC0}}, {0, {0x00, 0xDB, 0x41}}});
  std::vector<CapturedFrame> frames = ReadAll(file);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].received_ms, kNowMs);
  EXPECT_EQ(frames[0].kiss, (Bytes{0xC0, 0x00, 0x82, 0xDB, 0xDC, 0xC0}));
  EXPECT_EQ(frames[1].received_ms, 0);
  EXPECT_EQ(frames[1].kiss, (Bytes{0xC0, 0x00, 0xDB, 0xDD, 0x41, 0xC0}));

  // Seconds whose product with 1000 wraps round to kNowMs in 64 bits.
  constexpr std::uint64_t kWraps = kNowMs / 1000 + (std::uint64_t{1} << 61);
  static_assert(kWraps * 1000 == static_cast<std::uint64_t>(kNowMs));
  file = Pcapng({0x00010009u, 0u, 0u}, {{kWraps, {0x00, 0x82}}});
  frames = ReadAll(file);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].kiss, (Bytes{0xC0, 0x00, 0x82, 0xC0}));
  EXPECT_FALSE(IsPlausibleFrameTime(frames[0].received_ms, kNowMs)) << frames[0].received_ms;
}

}  // namespace
}  // namespace zevrin
