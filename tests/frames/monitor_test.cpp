#include "frames/monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>

#include "frames/frame_analysis.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"

namespace zevrin {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class ShowFrameTest : public ::testing::Test {
 protected:
  // Shows the frame (the dump log always attached) and returns the monitor texts.
  std::vector<std::string> Show(const Bytes& frame, bool analyze, bool hexdump = false) {
    monitor_.runs.clear();
    dump_.lines.clear();
    ShowFrame(frame, MonitorOptions{analyze, hexdump}, now_, unescaped_, header_, monitor_, &dump_);
    std::vector<std::string> texts;
    for (const auto& run : monitor_.runs) texts.push_back(run.first);
    return texts;
  }

  UtcInstant now_{1245506709, 437};  // 2009-06-20 14:05:09.437
  UnescapedFrame unescaped_;
  FrameHeader header_;
  testing::RecordingMonitor monitor_;
  testing::RecordingDumpLog dump_;
};

// A satellite UI frame whose payload counts 1, 2, 3, ...
Bytes SatelliteFrame(int payload_size, std::uint8_t command = 0x00) {
  Bytes payload(static_cast<std::size_t>(payload_size));
  for (int i = 0; i < payload_size; ++i)
    payload[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i + 1);
  sample::Ax25Frame f = sample::SatelliteFrame(payload);
  f.command = command;
  return sample::KissFrame(f);
}

// The raw view shows escapes as received, the decoded view undoes them.
TEST_F(ShowFrameTest, RawAndDecodedViewsWithTheirColours) {
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({0xC0, 0xDB}));
  EXPECT_THAT(Show(frame, false),
              ElementsAre("\r", "2009-06-20 14:05:09.437 UTC: [23 Bytes KISS Frame (without CRC)]\r",
                          EndsWith("F0 DB DC \r"), " 21  > DB DD C0 \r"));
  EXPECT_EQ(monitor_.runs[1].second, ColourRole::kSummary);
  EXPECT_EQ(monitor_.runs[2].second, ColourRole::kDump);

  EXPECT_THAT(Show(frame, true), ElementsAre("\r", HasSubstr("[23 Bytes "),
                                             "ctrl: 3   PID: F0 {UI}   2 Payload Bytes\r",
                                             "from QQ0SAT to QQ0GND: \r", " 1   > C0 DB \r"));
  const ColourRole roles[] = {ColourRole::kSeparator, ColourRole::kSummary, ColourRole::kControl,
                              ColourRole::kAddress, ColourRole::kDump};
  for (std::size_t i = 0; i < std::size(roles); ++i) EXPECT_EQ(monitor_.runs[i].second, roles[i]);
}

TEST_F(ShowFrameTest, DumpLinesHoldTwentyBytes) {
  for (const auto& [size, lines] : {std::pair{0, 0}, {1, 1}, {20, 1}, {21, 2}, {40, 2}, {45, 3}})
    EXPECT_EQ(Show(SatelliteFrame(size), true).size(), 4u + static_cast<std::size_t>(lines))
        << size;
  const std::vector<std::string> texts = Show(SatelliteFrame(101), true);
  EXPECT_EQ(texts[5], " 21  > 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 22 23 24 25 26 27 28 \r");
  EXPECT_EQ(texts.back(), " 101 > 65 \r");
}

TEST_F(ShowFrameTest, FrameTypesByWholeCommandByteAndEveryOneDecodedAsAx25) {
  std::string types;
  for (const int command : {0x00, 0x80, 0x09, 0x10, 0x01, 0xFF})
    types.append(FrameTypeText(static_cast<std::uint8_t>(command))).append("|");
  EXPECT_EQ(types,
            "KISS Frame (without CRC)|SMACK Frame (with CRC)|TIME Frame|unknown Protocol|"
            "unknown Protocol|unknown Protocol|");
  EXPECT_EQ(Show(SatelliteFrame(3, 0x10), true)[3], "from QQ0SAT to QQ0GND: \r");
  // A SMACK frame's CRC is dumped as payload.
  EXPECT_THAT(Show(SatelliteFrame(5, 0x80), true),
              ElementsAre("\r", HasSubstr("[24 Bytes SMACK Frame (with CRC)]"),
                          HasSubstr("5 Payload Bytes"), "from QQ0SAT to QQ0GND: \r",
                          " 1   > 01 02 03 04 05 \r"));
}

TEST_F(ShowFrameTest, FramesWithoutPidAndFramesTooShortForTheirHeader) {
  sample::Ax25Frame f = sample::SatelliteFrame({});
  f.control = 0x31;
  f.pid = -1;
  EXPECT_EQ(Show(sample::KissFrame(f), true)[2], "ctrl: 49   PID: - {RR1-}   0 Payload Bytes\r");
  // No dump line for a negative payload size.
  EXPECT_THAT(Show({0xC0, 0x00, 0x41, 0xC0}, true),
              ElementsAre("\r", HasSubstr("[4 Bytes "),
                          "ctrl: 0   PID: 0 {I00^}   -78 Payload Bytes\r", "from  to `: \r"));
}

TEST_F(ShowFrameTest, DumpLogGetsSummaryDumpAsciiAndEmptyLine) {
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({0x41, 0x1F, 0x7F, 0xFF, 0x20}));
  Show(frame, true, true);
  EXPECT_THAT(dump_.lines,
              ElementsAre("2009-06-20 14:05:09.437 UTC: [24 Bytes KISS Frame (without CRC)]",
                          " 1   > 41 1F 7F FF 20 ", std::string("A.\x7F\xFF "), ""));
  Show(SatelliteFrame(0), true, true);
  EXPECT_THAT(dump_.lines, ElementsAre(HasSubstr("[19 Bytes "), "", ""));
  Show(frame, true, false);
  EXPECT_TRUE(dump_.lines.empty());
}

TEST(MonitorTextTest, TimestampAndAscii) {
  EXPECT_EQ(FrameTimestamp({1245506709, 7}), "2009-06-20 14:05:09.007");
  EXPECT_EQ(FrameTimestamp({0, 999}), "1970-01-01 00:00:00.999");
  EXPECT_EQ(AsciiText(Bytes{0x00, 0x1F, 0x20, 0x7E, 0x80}), ".. ~\x80");
}

// The raw view still decodes the header for the satellite decoder; the monitor is optional.
TEST(FrameAnalysisTest, HandsTheDecodedHeaderOnWhateverTheMonitorShows) {
  struct : SatelliteDecoder {
    void DecodeSatelliteFrame(const UnescapedFrame& f, const FrameHeader& h) override {
      calls.push_back(h.SourceCall + "/" + std::to_string(f.UnescapedLength));
    }
    std::vector<std::string> calls;
  } decoder;
  testing::FixedClock clock({1000, 0});
  testing::RecordingMonitor monitor;
  FrameAnalysis analysis(clock);
  analysis.SetSatelliteDecoder(&decoder);
  ReceiveState state;
  analysis.HandOver(SatelliteFrame(3), state);  // no monitor
  analysis.SetMonitor(&monitor);
  analysis.options().analyze_frame = false;
  analysis.HandOver(SatelliteFrame(3), state);
  EXPECT_THAT(decoder.calls, ElementsAre("QQ0SAT/22", "QQ0SAT/22"));
  EXPECT_EQ(state.LastFrameTime, 1000);
  EXPECT_EQ(monitor.runs.size(), 4u);  // separator, summary, two dump lines
}

}  // namespace
}  // namespace zevrin
