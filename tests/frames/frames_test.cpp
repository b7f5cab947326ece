// AX.25 header decoding and the frame monitor's entries.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "frames/frame_header.h"
#include "frames/monitor.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"

namespace zevrin {
namespace {

using sample::Address;
using sample::Ax25Frame;
using testing::Bytes;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Decoded {
  UnescapedFrame frame;
  FrameHeader header;
  // Unescaped positions `from` to `to`.
  Bytes At(int from, int to) const {
    Bytes out;
    for (int pos = from; pos <= to; ++pos) out.push_back(frame.At(pos));
    return out;
  }
};

Decoded Decode(const Bytes& kiss) {
  Decoded d;
  DecodeFrameHeader(kiss, d.frame, d.header);
  return d;
}

Ax25Frame Ui(Bytes payload = {'h', 'i'}) { return sample::SatelliteFrame(std::move(payload)); }

TEST(FrameHeaderTest, SsidsPaddedCallsignsAndDigipeaters) {
  const auto suffix = [](int ssid) {
    return ssid == 0 ? std::string() : std::string(1, '-').append(std::to_string(ssid));
  };
  for (int ssid = 0; ssid <= 15; ++ssid) {
    Ax25Frame f = Ui();
    f.source = {"QQ1", ssid, false};
    f.destination = {"AB", 15 - ssid, false};
    f.digipeaters = {{"RLY", ssid, true}};
    const std::string s = suffix(ssid);
    EXPECT_EQ(Decode(sample::KissFrame(f)).header.header_text,
              "from QQ1" + s + " to AB" + suffix(15 - ssid) + " via RLY" + s + "*: ");
  }

  Ax25Frame f = Ui();
  Decoded d = Decode(sample::KissFrame(f));
  EXPECT_EQ(d.header.header_text, "from QQ0SAT to QQ0GND: ");
  EXPECT_EQ(d.At(19, d.frame.unescaped_length), (Bytes{'h', 'i', 0xC0}));
  f.digipeaters = {{"QQ9RLY", 1, true}, {"WIDE2", 2, false}};
  d = Decode(sample::KissFrame(f));
  EXPECT_EQ(d.header.header_text, "from QQ0SAT to QQ0GND via QQ9RLY-1*,WIDE2-2: ");
  EXPECT_TRUE(d.header.digipeaters[2].empty());
  EXPECT_EQ(d.header.payload_start, 33);
  f.digipeaters = {{"RLY", 0, false}};
  d = Decode(sample::KissFrame(f));
  EXPECT_EQ(d.header.control_byte, 0x03);  // at position 24
  EXPECT_EQ(d.header.payload_start, 26);
  // More than nine digipeaters claimed: the control byte is taken at position 80.
  f.digipeaters.assign(11, Address{"R", 0, false});
  d = Decode(sample::KissFrame(f));
  EXPECT_EQ(d.header.digipeaters[8], "R");
  EXPECT_EQ(d.header.control_byte, d.frame.At(80));
}

TEST(FrameHeaderTest, ControlFieldNamesMarksAndPid) {
  // Each kind of frame with and without the P/F bit, and an undefined U frame.
  const std::pair<std::uint8_t, const char*> cases[] = {
      {0x20, "I10^"},   {0xFE, "I77+"},   {0x31, "RR1-"},  {0x65, "RNR3v"}, {0x79, "REJ3-"},
      {0x6D, "SREJ3v"}, {0x7F, "SABME+"}, {0x2F, "SABM^"}, {0x0F, "DMv"},   {0x73, "UA-"},
      {0x03, "UI"},     {0x13, "UI!"},    {0xBF, "XID!"},  {0xE3, "TEST"},  {0x2B, "UNKNOWN U"},
  };
  for (const auto& [control, name] : cases) EXPECT_EQ(ControlName(control), name) << int{control};

  Ax25Frame f = Ui();
  f.control = 0x20;  // an I frame carries a PID
  Decoded d = Decode(sample::KissFrame(f));
  EXPECT_TRUE(d.header.has_pid);
  EXPECT_EQ(d.header.pid_byte, 0xF0);
  EXPECT_EQ(d.header.payload_start, 19);
  f.control = 0x31;  // RR: no PID, the byte after the control is payload
  f.pid = -1;
  d.header.pid_byte = 0x42;
  DecodeFrameHeader(sample::KissFrame(f), d.frame, d.header);
  EXPECT_FALSE(d.header.has_pid);
  EXPECT_EQ(d.header.pid_byte, 0x42);  // an older PID is kept, but marked as not this frame's
  EXPECT_EQ(d.header.payload_start, 18);
}

TEST(FrameHeaderTest, EscapesAreUndoneAsTheTncMeantThem) {
  const std::pair<Bytes, Bytes> cases[] = {
      // DC and DD with no escape pending are plain data.
      {{0xC0, 0x00, 0xDB, 0xDC, 0xDB, 0xDD, 0xDC, 0xDD, 0xC0}, {0xC0, 0xDB, 0xDC, 0xDD, 0xC0}},
      // An escape stays pending across an ordinary byte; two FESCs are both dropped.
      {{0xC0, 0x00, 0xDB, 0x41, 0xDC, 0xDB, 0xDB, 0xDD, 0xC0}, {0x41, 0xC0, 0xDB, 0xC0}},
  };
  for (const auto& [kiss, unescaped] : cases) {
    const Decoded d = Decode(kiss);
    EXPECT_EQ(d.At(3, d.frame.unescaped_length), unescaped);
  }
}

TEST(FrameHeaderTest, ShortFrameNeverShowsAnEarlierFrame) {
  Decoded d = Decode(sample::KissFrame(Ui(Bytes(200, 0x55))));
  DecodeFrameHeader(Bytes{0xC0, 0x00, 0xC0}, d.frame, d.header);
  EXPECT_EQ(d.frame.unescaped_length, 3);
  EXPECT_EQ(d.header.header_text, "from  to `: ");  // the closing FEND, shifted
  EXPECT_EQ(d.At(4, kUnescapedSize), Bytes(kUnescapedSize - 3, 0));
  // No extension bit anywhere: nine empty digipeaters, control byte at position 80.
  EXPECT_EQ(d.header.payload_start, 82);
  EXPECT_EQ(d.header.control_name, "I00^");
}

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
  EXPECT_THAT(
      Show(frame, false),
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

// The type goes by the whole command byte, port bits included; every frame is decoded.
TEST_F(ShowFrameTest, FrameTypesByWholeCommandByteAndEveryOneDecodedAsAx25) {
  EXPECT_EQ(FrameTypeText(0x09), "TIME Frame");
  EXPECT_EQ(FrameTypeText(0xFF), "unknown Protocol");
  EXPECT_THAT(Show(SatelliteFrame(3, 0x10), true),  // a data frame for TNC port 1
              ElementsAre("\r", HasSubstr("Bytes unknown Protocol]"), HasSubstr("3 Payload Bytes"),
                          "from QQ0SAT to QQ0GND: \r", " 1   > 01 02 03 \r"));
  // A SMACK frame's CRC is dumped as payload.
  EXPECT_THAT(Show(SatelliteFrame(5, 0x80), true),
              ElementsAre("\r", HasSubstr("[24 Bytes SMACK Frame (with CRC)]"),
                          HasSubstr("5 Payload Bytes"), "from QQ0SAT to QQ0GND: \r",
                          " 1   > 01 02 03 04 05 \r"));
}

TEST_F(ShowFrameTest, FrameTooShortForItsHeaderHasNoDumpLine) {
  EXPECT_THAT(Show({0xC0, 0x00, 0x41, 0xC0}, true),
              ElementsAre("\r", HasSubstr("[4 Bytes "),
                          "ctrl: 0   PID: 0 {I00^}   -78 Payload Bytes\r", "from  to `: \r"));
  EXPECT_EQ(FrameTimestamp({1245506709, 7}), "2009-06-20 14:05:09.007");
  EXPECT_EQ(HexText(Bytes{0x00, 0x0A, 0xF0}), "00 0A F0 ");
  EXPECT_EQ(StripSpaces(" Q Q0 SAT "), "QQ0SAT");
}

// Lines longer than the room a line gets on the stack, and positions wider than
// four digits, come out whole.
TEST_F(ShowFrameTest, LongLinesAndWidePositionsAreNeverCut) {
  header_.control_name = std::string(600, 'N');
  EXPECT_EQ(ControlLine(header_, unescaped_),
            "ctrl: 0   PID: - {" + std::string(600, 'N') + "}   0 Payload Bytes");
  std::vector<std::string> lines;
  ForEachDumpLine(Bytes(100001, 0xAB), [&](std::string_view line) { lines.emplace_back(line); });
  ASSERT_EQ(lines.size(), 5001u);
  std::string twenty;
  for (int i = 0; i < 20; ++i) twenty += "AB ";
  EXPECT_EQ(lines[500], " 10001 > " + twenty);
  EXPECT_EQ(lines.back(), " 100001 > AB ");
  EXPECT_EQ(PadNumber(-7, 4), "-7  ");
  EXPECT_EQ(FrameTimestamp({-62198755200, 1000}), "-001-01-01 00:00:00.1000");  // no 4-digit year
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

}  // namespace
}  // namespace zevrin
