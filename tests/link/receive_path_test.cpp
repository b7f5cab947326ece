#include "link/receive_path.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "support/fakes.h"

namespace zevrin {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;

class ReceivePathTest : public ::testing::Test {
 protected:
  ReceivePathTest() {
    path_.SetRawLog(&log_);
    path_.SetFrameHandler(&handler_);
  }

  void Receive(const Bytes& bytes) { path_.Receive(bytes); }

  testing::FixedClock clock_;
  testing::RecordingView view_;
  testing::RecordingLog log_;
  testing::RecordingHandler handler_;
  ReceiveState state_;
  ReceivePath path_{state_, clock_, view_};
};

TEST_F(ReceivePathTest, CompleteFrameIsLoggedOnceAndHandedOverOnce) {
  Receive({0xC0, 0x00, 0x41, 0xC0});
  EXPECT_THAT(handler_.frames, ElementsAre(Bytes{0xC0, 0x00, 0x41, 0xC0}));
  EXPECT_EQ(log_.bytes, (Bytes{0xC0, 0x00, 0x41, 0xC0}));
  EXPECT_EQ(log_.frames.size(), 1u);
  EXPECT_EQ(state_.FrameCount, 1);
  EXPECT_EQ(state_.LastFrameTime, clock_.Now().seconds);
}

TEST_F(ReceivePathTest, ShortestFrameAndEmptyFrames) {
  Receive({0xC0, 0x00, 0xC0});
  EXPECT_THAT(handler_.frames, ElementsAre(Bytes{0xC0, 0x00, 0xC0}));
  EXPECT_EQ(state_.FrameCount, 1);

  // Back-to-back FENDs are one delimiter: nothing handed over, nothing counted.
  ReceiveState fresh;
  ReceivePath p(fresh, clock_, view_);
  testing::RecordingHandler h;
  p.SetFrameHandler(&h);
  p.Receive(Bytes{0xC0, 0xC0});
  EXPECT_TRUE(h.frames.empty());
  EXPECT_EQ(fresh.FrameCount, 0);
}

TEST_F(ReceivePathTest, BytesOutsideAFrameAreCountedAndDropped) {
  clock_.Set({5000, 0});
  Receive({0x41, 0x42, 0x43});
  EXPECT_TRUE(handler_.frames.empty());
  EXPECT_TRUE(log_.bytes.empty());
  EXPECT_EQ(state_.FrameCount, 3);
  EXPECT_EQ(state_.LastFrameTime, 5000);
  EXPECT_EQ(state_.FrameLength, 0);
}

TEST_F(ReceivePathTest, SharedAndDoubledFendsBothGiveTwoFrames) {
  Receive({0xC0, 0x01, 0xC0, 0x02, 0xC0});
  Receive({0xC0, 0x03, 0xC0, 0xC0, 0x04, 0xC0});
  EXPECT_THAT(handler_.frames, ElementsAre(Bytes{0xC0, 0x01, 0xC0}, Bytes{0xC0, 0x02, 0xC0},
                                           Bytes{0xC0, 0x03, 0xC0}, Bytes{0xC0, 0x04, 0xC0}));
  EXPECT_EQ(state_.FrameCount, 4);
}

TEST_F(ReceivePathTest, StartInTheMiddleOfAFrameRecoversAtTheNextFend) {
  // The tail of a frame whose start was missed, then two whole frames.
  Receive({0x11, 0x22, 0xC0, 0xC0, 0x00, 0x55, 0xC0, 0x00, 0x66, 0xC0});
  EXPECT_THAT(handler_.frames,
              ElementsAre(Bytes{0xC0, 0x00, 0x55, 0xC0}, Bytes{0xC0, 0x00, 0x66, 0xC0}));
}

TEST_F(ReceivePathTest, FrameSpreadOverNotificationsIsHandedOverWhenItCloses) {
  Receive({0xC0, 0x00});
  Receive({0x41, 0x42});
  EXPECT_TRUE(handler_.frames.empty());
  Receive({0x43, 0xC0});
  EXPECT_THAT(handler_.frames, ElementsAre(Bytes{0xC0, 0x00, 0x41, 0x42, 0x43, 0xC0}));
}

TEST_F(ReceivePathTest, AnySplitOfAStreamGivesTheSameFrames) {
  Bytes stream;
  std::vector<Bytes> expected;
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    Bytes frame{0xC0};
    const int n = 1 + static_cast<int>(rng() % 300);
    for (int k = 0; k < n; ++k) {
      std::uint8_t b = static_cast<std::uint8_t>(rng());
      if (b == 0xC0) b = 0xDB;  // escapes stay as received
      frame.push_back(b);
    }
    frame.push_back(0xC0);
    expected.push_back(frame);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  std::size_t pos = 0;
  while (pos < stream.size()) {
    const std::size_t n = std::min<std::size_t>(stream.size() - pos, 1 + rng() % 700);
    Receive(Bytes(stream.begin() + static_cast<long>(pos),
                  stream.begin() + static_cast<long>(pos + n)));
    pos += n;
  }
  EXPECT_EQ(handler_.frames, expected);
  EXPECT_EQ(log_.bytes, stream);
  EXPECT_EQ(state_.ByteCount, static_cast<std::int32_t>(stream.size()));
}

TEST_F(ReceivePathTest, FrameOfFullBufferSizeIsKeptAndOneByteMoreIsDroppedWhole) {
  Bytes full(512, 0x5A);
  full.front() = 0xC0;
  full.back() = 0xC0;
  ASSERT_EQ(full.size(), 512u);
  Receive(full);
  ASSERT_EQ(handler_.frames.size(), 1u);
  EXPECT_EQ(handler_.frames[0], full);

  Bytes too_long(513, 0x5A);
  too_long.front() = 0xC0;
  too_long.back() = 0xC0;
  const int count_before = state_.FrameCount;
  Receive(too_long);
  EXPECT_EQ(handler_.frames.size(), 1u);
  EXPECT_EQ(state_.FrameCount, count_before + 1);  // its FEND still counts as a closing

  // A runaway frame of many kilobytes is dropped too, and the next frame is whole.
  Bytes runaway(5000, 0x33);
  runaway.insert(runaway.end(), {0xC0, 0x00, 0x77, 0xC0});
  Receive(runaway);
  ASSERT_EQ(handler_.frames.size(), 2u);
  EXPECT_EQ(handler_.frames[1], (Bytes{0xC0, 0x00, 0x77, 0xC0}));
  EXPECT_EQ(log_.bytes.size(), full.size() + 4);
}

TEST_F(ReceivePathTest, EscapesStayAsReceived) {
  Receive({0xC0, 0x00, 0xDB, 0xDC, 0xDB, 0xDD, 0xC0});
  EXPECT_THAT(handler_.frames, ElementsAre(Bytes{0xC0, 0x00, 0xDB, 0xDC, 0xDB, 0xDD, 0xC0}));
}

TEST_F(ReceivePathTest, CounterLabelIsShownBeforeTheBytesAreAssembled) {
  Receive({0xC0, 0x00, 1, 2, 3, 4, 5, 6, 7, 0xC0});
  EXPECT_THAT(view_.counter, ElementsAre("10 Bytes received (1 Frames)"));
  Receive({0xC0});
  EXPECT_EQ(view_.counter.back(), "11 Bytes received (2 Frames)");
  EXPECT_EQ(view_.status.back(), "");
}

TEST_F(ReceivePathTest, CountersWrapToZeroInsteadOfGoingNegative) {
  state_.ByteCount = std::numeric_limits<std::int32_t>::max() - 1;
  state_.FrameCount = std::numeric_limits<std::int16_t>::max();
  Receive({0x41, 0x42, 0x43});
  EXPECT_EQ(state_.ByteCount, 1);
  EXPECT_EQ(state_.FrameCount, 2);  // 32767 -> 0 -> 1 -> 2
  EXPECT_EQ(view_.counter.back(), "1 Bytes received (32768 Frames)");
}

TEST_F(ReceivePathTest, ClearResetsCountersButNotTheFrameInProgress) {
  Receive({0xC0, 0x00, 0x41});
  path_.ClearCounters();
  EXPECT_EQ(state_.ByteCount, 0);
  EXPECT_EQ(state_.FrameCount, 0);
  Receive({0x42, 0xC0});
  EXPECT_THAT(handler_.frames, ElementsAre(Bytes{0xC0, 0x00, 0x41, 0x42, 0xC0}));
  EXPECT_EQ(view_.counter.back(), "2 Bytes received (1 Frames)");
}

TEST_F(ReceivePathTest, EveryLineConditionShowsItsTextAndLeavesTheFrameAlone) {
  testing::FakePort port;
  Receive({0xC0, 0x00, 0x41});
  // Every code of the serial component's table has a text; a few checked word for word.
  for (const std::int16_t code :
       {1, 3, 4, 5, 6, 1001, 1002, 1003, 1004, 1006, 1007, 1008, 1009, 1010, 1011}) {
    path_.OnComm(code, port);
    ASSERT_NE(CommEventText(code), nullptr) << code;
    EXPECT_EQ(view_.status.back(), CommEventText(code));
  }
  EXPECT_STREQ(CommEventText(1004), "Framing Error");
  EXPECT_STREQ(CommEventText(1011), "Unexpected error retrieving DCB");
  EXPECT_STREQ(CommEventText(1), "There are characters in the transmit buffer.");
  const std::size_t shown = view_.status.size();
  for (const std::int16_t ignored : {0, 7, 1005, 1012, -1}) path_.OnComm(ignored, port);
  EXPECT_EQ(view_.status.size(), shown);
  EXPECT_EQ(state_.FrameLength, 3);

  port.waiting = {0x42, 0xC0};
  path_.OnComm(kCommEventReceive, port);
  EXPECT_EQ(view_.status.back(), "");
  EXPECT_THAT(handler_.frames, ElementsAre(Bytes{0xC0, 0x00, 0x41, 0x42, 0xC0}));
}

TEST_F(ReceivePathTest, OpenPortConfiguresTheLineAndAbandonsTheFrameInProgress) {
  testing::FakePort port;
  Receive({0xC0, 0x00, 0x41});
  path_.OpenPort(port, 3, "19200,N,8,1");
  EXPECT_EQ(port.PortNumber(), 3);
  EXPECT_EQ(port.Settings(), "19200,N,8,1");
  EXPECT_TRUE(port.binary);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_FALSE(state_.InFrame);
  EXPECT_EQ(state_.FrameLength, 0);
  path_.OpenPort(port, 3, "19200,N,8,1");
  EXPECT_EQ(port.opens, 1);  // an open port is not opened again

  Receive({0x42, 0xC0, 0x00, 0x43, 0xC0});
  EXPECT_THAT(handler_.frames, ElementsAre(Bytes{0xC0, 0x00, 0x43, 0xC0}));

  testing::FakePort missing;
  missing.openable = false;
  path_.OpenPort(missing, 9, "9600,N,8,1");
  EXPECT_FALSE(missing.IsOpen());
}

TEST(CommEventTextTest, ReceiveCodeHasNoTextOfItsOwn) {
  EXPECT_EQ(CommEventText(kCommEventReceive), nullptr);
  EXPECT_EQ(ReceiveCounterText(150, 2), "150 Bytes received (3 Frames)");
}

}  // namespace
}  // namespace zevrin
