// AX.25 header decoding and the frame monitor's entries. Addresses, control names
// and frame types of every kind are pinned by the decode tool's golden files of
// random frames; here what those cannot show.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

struct Decoded {
  UnescapedFrame frame;
  FrameHeader header;
};

Decoded Decode(const Ax25Frame& f) {
  Decoded d;
  DecodeFrameHeader(sample::KissFrame(f), d.frame, d.header);
  return d;
}

Ax25Frame Ui(std::vector<Address> digipeaters = {}) {
  Ax25Frame f = sample::SatelliteFrame({'h', 'i'});
  f.digipeaters = std::move(digipeaters);
  return f;
}

// The control byte follows the last address with its extension bit set; more than
// nine digipeaters claimed put it at position 80 all the same.
TEST(FrameHeaderTest, ControlAndPayloadFollowTheLastAddress) {
  // Digipeaters claimed, and where the payload starts.
  for (const auto& [digipeaters, start] : {std::pair{0u, 19}, {2u, 33}, {9u, 82}, {11u, 82}}) {
    const Decoded d = Decode(Ui(std::vector<Address>(digipeaters, Address{"R", 0, false})));
    EXPECT_EQ(d.header.payload_start, start) << digipeaters;
    EXPECT_EQ(d.header.control_byte, digipeaters > 9 ? d.frame.At(80) : 0x03) << digipeaters;
  }
  EXPECT_EQ(Decode(Ui({{"QQ9RLY", 1, true}, {"WIDE2", 2, false}})).header.header_text,
            "from QQ0SAT to QQ0GND via QQ9RLY-1*,WIDE2-2: ");
  Decoded five_bytes;  // too short for its header: no payload, not a negative count
  DecodeFrameHeader(Bytes{0xC0, 0x00, 0x41, 0x42, 0xC0}, five_bytes.frame, five_bytes.header);
  EXPECT_THAT(ControlLine(five_bytes.header, five_bytes.frame), EndsWith("}   0 Payload Bytes"));
}

TEST(FrameHeaderTest, EscapesAreUndoneAsTheTncMeantThem) {
  const std::pair<Bytes, Bytes> cases[] = {
      // DC and DD with no escape pending are plain data.
      {{0xC0, 0x00, 0xDB, 0xDC, 0xDB, 0xDD, 0xDC, 0xDD, 0xC0}, {0xC0, 0xDB, 0xDC, 0xDD, 0xC0}},
      // An escape stays pending across an ordinary byte; two FESCs are both dropped.
      {{0xC0, 0x00, 0xDB, 0x41, 0xDC, 0xDB, 0xDB, 0xDD, 0xC0}, {0x41, 0xC0, 0xDB, 0xC0}},
  };
  for (const auto& [kiss, unescaped] : cases) {
    Decoded d;
    DecodeFrameHeader(kiss, d.frame, d.header);
    Bytes got;  // unescaped positions 3 on
    for (int pos = 3; pos <= d.frame.unescaped_length; ++pos) got.push_back(d.frame.At(pos));
    EXPECT_EQ(got, unescaped);
  }
}

class ShowFrameTest : public ::testing::Test {
 protected:
  // Shows the frame and returns the monitor texts.
  std::vector<std::string> Show(const Bytes& frame, bool analyze) {
    monitor_.runs.clear();
    ShowFrame(frame, MonitorOptions{analyze, false}, {1245506709, 437}, unescaped_, header_,
              monitor_, nullptr);
    std::vector<std::string> texts;
    for (const auto& run : monitor_.runs) texts.push_back(run.first);
    return texts;
  }
  std::vector<ColourRole> Roles() const {
    std::vector<ColourRole> roles;
    for (const auto& run : monitor_.runs) roles.push_back(run.second);
    return roles;
  }

  UnescapedFrame unescaped_;
  FrameHeader header_;
  testing::RecordingMonitor monitor_;
};

// The raw view dumps escapes as received, the decoded view undoes them.
TEST_F(ShowFrameTest, RawViewKeepsEscapesAndDecodedViewUndoesThemEachInItsColours) {
  using enum ColourRole;
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({0xC0, 0xDB}));
  EXPECT_THAT(Show(frame, false), ElementsAre("\r", ::testing::HasSubstr("[23 Bytes "),
                                              EndsWith("F0 DB DC \r"), " 21  > DB DD C0 \r"));
  EXPECT_THAT(Roles(), ElementsAre(kSeparator, kSummary, kDump, kDump));
  EXPECT_EQ(Show(frame, true).back(), " 1   > C0 DB \r");
  EXPECT_THAT(Roles(), ElementsAre(kSeparator, kSummary, kControl, kAddress, kDump));
}

}  // namespace
}  // namespace zevrin
