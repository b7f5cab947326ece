#include "frames/monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "frames/frame_analysis.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"

namespace zevrin {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using ::testing::Pair;

class ShowFrameTest : public ::testing::Test {
 protected:
  void Show(const Bytes& frame, bool analyze, bool hexdump) {
    monitor_.runs.clear();
    dump_.lines.clear();
    ShowFrame(frame, MonitorOptions{analyze, hexdump}, now_, unescaped_, header_, monitor_, &dump_);
  }

  UtcInstant now_{1245506709, 437};  // 2009-06-20 14:05:09.437
  UnescapedFrame unescaped_;
  FrameHeader header_;
  testing::RecordingMonitor monitor_;
  testing::RecordingDumpLog dump_;
};

Bytes SatelliteFrame(int payload_size) {
  Bytes payload(static_cast<std::size_t>(payload_size));
  for (int i = 0; i < payload_size; ++i)
    payload[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i + 1);
  return sample::KissFrame(sample::SatelliteFrame(payload));
}

TEST_F(ShowFrameTest, SmallestFrameInTheRawView) {
  Show({0xC0, 0x00, 0xC0}, false, false);
  EXPECT_THAT(monitor_.runs,
              ElementsAre(Pair("\r", ColourRole::kSeparator),
                          Pair("2009-06-20 14:05:09.437 UTC: [3 Bytes KISS Frame (without CRC)]\r",
                               ColourRole::kSummary),
                          Pair(" 1   > C0 00 C0 \r", ColourRole::kDump)));
}

TEST_F(ShowFrameTest, DecodedViewOfASatelliteFrame) {
  Show(SatelliteFrame(41), true, false);
  ASSERT_EQ(monitor_.runs.size(), 7u);
  EXPECT_THAT(monitor_.runs[1].first,
              ::testing::EndsWith("UTC: [60 Bytes KISS Frame (without CRC)]\r"));
  EXPECT_THAT(monitor_.runs[2],
              Pair("ctrl: 3   PID: F0 {UI}   41 Payload Bytes\r", ColourRole::kControl));
  EXPECT_THAT(monitor_.runs[3], Pair("from QQ0SAT to QQ0GND: \r", ColourRole::kAddress));
  EXPECT_EQ(monitor_.runs[4].first.substr(0, 7), " 1   > ");
  EXPECT_EQ(monitor_.runs[5].first.substr(0, 7), " 21  > ");
  EXPECT_EQ(monitor_.runs[6].first, " 41  > 29 \r");
  EXPECT_EQ(monitor_.runs[6].second, ColourRole::kDump);
}

TEST_F(ShowFrameTest, DumpLinesHoldTwentyBytes) {
  for (const auto& [size, lines] : {std::pair{0, 0}, {1, 1}, {20, 1}, {21, 2}, {40, 2}, {45, 3}}) {
    Show(SatelliteFrame(size), true, false);
    EXPECT_EQ(monitor_.runs.size(), 4u + static_cast<std::size_t>(lines)) << size;
  }
  Show(SatelliteFrame(21), true, false);
  EXPECT_EQ(monitor_.runs.back().first, " 21  > 15 \r");
  EXPECT_EQ(monitor_.runs[4].first.size(), 7u + 60u + 1u);
}

TEST_F(ShowFrameTest, FrameTypesByWholeCommandByte) {
  const std::pair<std::uint8_t, const char*> cases[] = {{0x00, "KISS Frame (without CRC)"},
                                                        {0x80, "SMACK Frame (with CRC)"},
                                                        {0x09, "TIME Frame"},
                                                        {0x10, "unknown Protocol"},
                                                        {0x01, "unknown Protocol"},
                                                        {0xFF, "unknown Protocol"}};
  for (const auto& [command, text] : cases) EXPECT_EQ(FrameTypeText(command), text);

  // A port-1 data frame is still decoded as AX.25 in the decoded view.
  sample::Ax25Frame f = sample::SatelliteFrame({1, 2, 3});
  f.command = 0x10;
  Show(sample::KissFrame(f), true, false);
  EXPECT_THAT(monitor_.runs[1].first, ::testing::HasSubstr("Bytes unknown Protocol]"));
  EXPECT_EQ(monitor_.runs[3].first, "from QQ0SAT to QQ0GND: \r");
}

TEST_F(ShowFrameTest, RawViewShowsEscapesAsReceivedAndDecodedViewUndoesThem) {
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({0xC0, 0xDB}));
  Show(frame, false, false);
  EXPECT_THAT(monitor_.runs[1].first, ::testing::HasSubstr("[23 Bytes "));
  EXPECT_THAT(monitor_.runs[2].first, ::testing::EndsWith("F0 DB DC \r"));
  EXPECT_EQ(monitor_.runs[3].first, " 21  > DB DD C0 \r");
  Show(frame, true, false);
  EXPECT_EQ(monitor_.runs[2].first, "ctrl: 3   PID: F0 {UI}   2 Payload Bytes\r");
  EXPECT_EQ(monitor_.runs[4].first, " 1   > C0 DB \r");
}

TEST_F(ShowFrameTest, SmackFrameDumpsItsCrcAsPayload) {
  sample::Ax25Frame f = sample::SatelliteFrame({1, 2, 3, 0xAB, 0xCD});
  f.command = 0x80;
  Show(sample::KissFrame(f), true, false);
  EXPECT_THAT(monitor_.runs[1].first, ::testing::HasSubstr("SMACK Frame (with CRC)]"));
  EXPECT_THAT(monitor_.runs[2].first, ::testing::HasSubstr("5 Payload Bytes"));
  EXPECT_EQ(monitor_.runs[4].first, " 1   > 01 02 03 AB CD \r");
}

TEST_F(ShowFrameTest, FramesWithoutPidAndFramesTooShortForTheirHeader) {
  sample::Ax25Frame f = sample::SatelliteFrame({});
  f.control = 0x31;
  f.pid = -1;
  Show(sample::KissFrame(f), true, false);
  EXPECT_EQ(monitor_.runs[2].first, "ctrl: 49   PID: - {RR1-}   0 Payload Bytes\r");

  Show({0xC0, 0x00, 0x41, 0xC0}, true, false);
  EXPECT_EQ(monitor_.runs[2].first, "ctrl: 0   PID: 0 {I00^}   -78 Payload Bytes\r");
  EXPECT_EQ(monitor_.runs.size(), 4u);  // no dump line
}

TEST_F(ShowFrameTest, DumpLogGetsSummaryDumpAsciiAndEmptyLine) {
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({0x41, 0x1F, 0x7F, 0xFF, 0x20}));
  Show(frame, true, true);
  EXPECT_THAT(dump_.lines,
              ElementsAre("2009-06-20 14:05:09.437 UTC: [24 Bytes KISS Frame (without CRC)]",
                          " 1   > 41 1F 7F FF 20 ", std::string("A.\x7F\xFF "), ""));

  Show(SatelliteFrame(0), true, true);
  EXPECT_EQ(dump_.lines.size(), 3u);  // summary, empty ASCII line, empty separator
  EXPECT_EQ(dump_.lines[1], "");

  Show(frame, true, false);
  EXPECT_TRUE(dump_.lines.empty());
}

TEST(MonitorTextTest, PadNumberAndTimestamp) {
  EXPECT_EQ(PadNumber(1, 4), " 1  ");
  EXPECT_EQ(PadNumber(101, 4), " 101");
  EXPECT_EQ(PadNumber(12345, 4), " 12345");
  EXPECT_EQ(PadNumber(-7, 4), "-7  ");
  EXPECT_EQ(PadNumber(0, 1), " 0");
  EXPECT_EQ(FrameTimestamp({1245506709, 7}), "2009-06-20 14:05:09.007");
  EXPECT_EQ(FrameTimestamp({0, 999}), "1970-01-01 00:00:00.999");
  EXPECT_EQ(HexText(Bytes{0x00, 0x0A, 0xF0}), "00 0A F0 ");
  EXPECT_EQ(AsciiText(Bytes{0x00, 0x1F, 0x20, 0x7E, 0x80}), ".. ~\x80");
}

TEST(FrameAnalysisTest, DecodesOnceForTheMonitorAndHandsTheHeaderOn) {
  struct Recorder : SatelliteDecoder {
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
  const Bytes frame = SatelliteFrame(3);

  analysis.HandOver(frame, state);  // no monitor: decoding still happens
  analysis.SetMonitor(&monitor);
  analysis.options().analyze_frame = false;
  analysis.HandOver(frame, state);
  EXPECT_EQ(state.LastFrameTime, 1000);
  analysis.options().analyze_frame = true;
  analysis.HandOver(frame, state);
  EXPECT_THAT(decoder.calls, ElementsAre("QQ0SAT/22", "QQ0SAT/22", "QQ0SAT/22"));
  EXPECT_EQ(monitor.runs.size(), 4u + 5u);  // raw view, then decoded view
}

}  // namespace
}  // namespace zevrin
