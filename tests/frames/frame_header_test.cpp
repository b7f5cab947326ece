#include "frames/frame_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sample/sample_pass.h"

namespace zevrin {
namespace {

using sample::Address;
using sample::Ax25Frame;
using Bytes = std::vector<std::uint8_t>;

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

Ax25Frame Ui(Bytes payload = {'h', 'i'}) {
  Ax25Frame f;
  f.destination = {"QQ0GND", 0, false};
  f.source = {"QQ0SAT", 0, false};
  f.payload = std::move(payload);
  return f;
}

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
    EXPECT_EQ(Decode(sample::KissFrame(f)).header.HeaderText,
              "from QQ1" + s + " to AB" + suffix(15 - ssid) + " via RLY" + s + "*: ");
  }

  Ax25Frame f = Ui();
  Decoded d = Decode(sample::KissFrame(f));
  EXPECT_EQ(d.header.HeaderText, "from QQ0SAT to QQ0GND: ");
  EXPECT_EQ(d.At(19, d.frame.UnescapedLength), (Bytes{'h', 'i', 0xC0}));
  f.digipeaters = {{"QQ9RLY", 1, true}, {"WIDE2", 2, false}};
  d = Decode(sample::KissFrame(f));
  EXPECT_EQ(d.header.HeaderText, "from QQ0SAT to QQ0GND via QQ9RLY-1*,WIDE2-2: ");
  EXPECT_TRUE(d.header.Digipeaters[2].empty());
  EXPECT_EQ(d.header.PayloadStart, 33);
  f.digipeaters = {{"RLY", 0, false}};
  d = Decode(sample::KissFrame(f));
  EXPECT_EQ(d.header.ControlByte, 0x03);  // at position 24
  EXPECT_EQ(d.header.PayloadStart, 26);
  // More than nine digipeaters claimed: the control byte is taken at position 80.
  f.digipeaters.assign(11, Address{"R", 0, false});
  d = Decode(sample::KissFrame(f));
  EXPECT_EQ(d.header.Digipeaters[8], "R");
  EXPECT_EQ(d.header.ControlByte, d.frame.At(80));
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
  EXPECT_TRUE(d.header.HasPid);
  EXPECT_EQ(d.header.PidByte, 0xF0);
  EXPECT_EQ(d.header.PayloadStart, 19);
  f.control = 0x31;  // RR: no PID, the byte after the control is payload
  f.pid = -1;
  d.header.PidByte = 0x42;
  DecodeFrameHeader(sample::KissFrame(f), d.frame, d.header);
  EXPECT_FALSE(d.header.HasPid);
  EXPECT_EQ(d.header.PidByte, 0x42);  // an older PID is kept, but marked as not this frame's
  EXPECT_EQ(d.header.PayloadStart, 18);
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
    EXPECT_EQ(d.At(3, d.frame.UnescapedLength), unescaped);
  }
}

TEST(FrameHeaderTest, ShortFrameNeverShowsAnEarlierFrame) {
  Decoded d = Decode(sample::KissFrame(Ui(Bytes(200, 0x55))));
  DecodeFrameHeader(Bytes{0xC0, 0x00, 0xC0}, d.frame, d.header);
  EXPECT_EQ(d.frame.UnescapedLength, 3);
  EXPECT_EQ(d.header.HeaderText, "from  to `: ");  // the closing FEND, shifted
  EXPECT_EQ(d.At(4, kUnescapedSize), Bytes(kUnescapedSize - 3, 0));
  // No extension bit anywhere: nine empty digipeaters, control byte at position 80.
  EXPECT_EQ(d.header.PayloadStart, 82);
  EXPECT_EQ(d.header.ControlName, "I00^");
}

}  // namespace
}  // namespace zevrin
