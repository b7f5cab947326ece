#include "kiss/receive_path.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

#include "support/fakes.h"

namespace zevrin {
namespace {

using testing::Bytes;

// A receive path with recording ends, at 5000 s since 1970.
struct Rig {
  Rig() {
    path.SetRawLog(&log);
    path.SetFrameHandler(&handler);
  }
  testing::FixedClock clock{{5000, 0}};
  testing::RecordingView view;
  testing::FrameCollector log;
  testing::FrameCollector handler;
  testing::FakePort port;
  ReceiveState state;
  ReceivePath path{state, clock, view};
};

TEST(ReceivePathTest, FramesAreCutAtFendsAndBytesOutsideAFrameAreDropped) {
  struct Case {
    std::vector<Bytes> chunks, frames;
    int closings;
  };
  const Case cases[] = {
      {{{0xC0, 0x00, 0xC0}}, {{0xC0, 0x00, 0xC0}}, 1},
      {{{0xC0, 0xC0}}, {}, 0},        // back-to-back FENDs are one delimiter
      {{{0x41, 0x42, 0x43}}, {}, 3},  // bytes outside a frame: counted, dropped
      {{{0xC0, 0x01, 0xC0, 0x02, 0xC0}}, {{0xC0, 0x01, 0xC0}, {0xC0, 0x02, 0xC0}}, 2},
      {{{0xC0, 0x03, 0xC0, 0xC0, 0x04, 0xC0}}, {{0xC0, 0x03, 0xC0}, {0xC0, 0x04, 0xC0}}, 2},
      {{{0x11, 0x22, 0xC0, 0xC0, 0x00, 0x55, 0xC0}}, {{0xC0, 0x00, 0x55, 0xC0}}, 3},
      {{{0xC0, 0x00}, {0x41}, {0x42, 0xC0}}, {{0xC0, 0x00, 0x41, 0x42, 0xC0}}, 1},
  };
  for (const Case& c : cases) {
    Rig r;
    for (const Bytes& chunk : c.chunks) r.path.Receive(chunk);
    SCOPED_TRACE(::testing::PrintToString(c.chunks));
    EXPECT_EQ(r.handler.frames, c.frames);
    EXPECT_EQ(r.log.frames, r.handler.frames);
    EXPECT_EQ(r.state.frame_count, c.closings);
    EXPECT_EQ(r.state.last_frame_time, c.closings > 0 ? 5000 : 0);
  }
}

TEST(ReceivePathTest, OverlongFrameIsDroppedWholeAndNeverOverrunsTheBuffer) {
  Rig r;
  auto frame = [](std::size_t size) {
    Bytes f(size, 0x5A);
    f.front() = f.back() = 0xC0;
    return f;
  };
  r.path.Receive(frame(512));
  r.path.Receive(frame(513));
  Bytes runaway(5000, 0x33);
  runaway.insert(runaway.end(), {0xC0, 0x00, 0x77, 0xC0});
  r.path.Receive(runaway);
  EXPECT_THAT(r.handler.frames, ::testing::ElementsAre(frame(512), Bytes{0xC0, 0x00, 0x77, 0xC0}));
  EXPECT_EQ(r.state.frame_count, 4);  // a dropped frame's FEND still counts as a closing
}

// Clearing the counters and line conditions leave the frame in progress alone; the
// counters wrap to 0 instead of going negative, and are shown before the frame is cut.
TEST(ReceivePathTest, CountersWrapAndNeitherClearingNorLineConditionsCutAFrame) {
  Rig r;
  r.path.Receive(Bytes{0xC0, 0x00, 0xC0, 0xC0, 0x00, 0x41});  // one frame, one in progress
  r.path.ClearCounters();
  EXPECT_EQ(r.state.byte_count + r.state.frame_count, 0);
  for (const std::int16_t code : {0, 1004, 7, 1005, 1012, -1}) r.path.PortEvent(code, r.port);
  // A frame clears the status; codes without a text show nothing.
  EXPECT_THAT(r.view.status, ::testing::ElementsAre("", "Framing Error"));

  r.state.byte_count = std::numeric_limits<std::int32_t>::max() - 1;
  r.state.frame_count = std::numeric_limits<std::int16_t>::max();
  r.port.waiting = {0x42, 0xC0};
  r.path.PortEvent(kCommEventReceive, r.port);
  EXPECT_EQ(r.handler.frames.back(), (Bytes{0xC0, 0x00, 0x41, 0x42, 0xC0}));
  EXPECT_EQ(r.state.byte_count + r.state.frame_count, 0);
  EXPECT_EQ(r.view.counter.back(), "0 Bytes received (32768 Frames)");
}

}  // namespace
}  // namespace zevrin
