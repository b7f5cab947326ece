// KISS time-stamp frames: read with their escapes, the rules for the frame they
// time, and the raw log that writes them.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "frames/kiss_frames.h"
#include "outputs/frame_recorder.h"
#include "outputs/logs/raw_log_settings.h"
#include "outputs/logs/stamped_raw_log.h"
#include "station/program.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Bytes;

constexpr std::int64_t kNowMs = 1721222496000;  // 2024-07-17, the clock of the tests
constexpr std::int64_t kHourMs = 3600 * 1000;
// Its bytes are 00 00 01 90 C0 DB DB C0: two FENDs and two FESCs to escape.
constexpr std::int64_t kEscapedTime = 0x190C0DBDBC0;

Bytes Stamp(std::int64_t ms) {
  Bytes out;
  AppendKissTimestampFrame(out, ms);
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(KissTimestampTest, EightBytesOfCommandNineOfPortZeroAreATimeEscapesUndone) {
  const Bytes escaped = Stamp(kEscapedTime);
  EXPECT_EQ(escaped, (Bytes{0xC0, 0x09, 0x00, 0x00, 0x01, 0x90, 0xDB, 0xDC, 0xDB, 0xDD, 0xDB, 0xDD,
                            0xDB, 0xDC, 0xC0}));
  EXPECT_EQ(KissTimestamp(escaped), kEscapedTime);
  EXPECT_EQ(KissTimestamp(Stamp(0)), 0);
  const Bytes not_stamps[] = {
      {0xC0, 0x19, 0, 0, 1, 0x90, 0, 0, 0, 0, 0xC0},                       // command 9 of port 1
      {0xC0, 0x09, 0, 0, 1, 0x90, 0, 0, 0, 0xC0},                          // seven bytes
      {0xC0, 0x09, 0, 0, 1, 0x90, 0, 0, 0, 0, 0, 0xC0},                    // nine bytes
      {0xC0, 0x09, 0, 0, 1, 0x90, 0, 0, 0, 0xDB, 0xDC, 0xDB, 0xDD, 0xC0},  // nine after unescaping
      {0xC0, 0x00, 0, 0, 1, 0x90, 0, 0, 0, 0, 0xC0},                       // a data frame
  };
  for (const Bytes& frame : not_stamps) EXPECT_EQ(KissTimestamp(frame), std::nullopt);
}

// The receive path through a recorder, as in the programs: the monitor shows every
// frame, the sink gets the data frames with their times.
class StampedStreamTest : public ::testing::Test {
 protected:
  struct Received {
    std::int64_t ms;
    TimeSource source;
    bool replayed;
    std::size_t length;
    bool operator==(const Received&) const = default;
  };
  struct Sink final : FrameSink {
    void FrameDecoded(const DecodedFrame& f) override {
      frames.push_back({f.received_ms, f.time_source, f.replayed, f.bytes.size()});
    }
    std::vector<Received> frames;
  };

  struct Receiver {
    explicit Receiver(const Clock& clock)
        : program(clock),
          pipeline(program, view, monitor),
          recorder(program.station.analysis, program.decoder, program.fields, clock) {
      recorder.AddSink(&sink);
      pipeline.path().SetFrameHandler(&recorder);
    }
    ProgramState program;
    testing::RecordingView view;
    testing::RecordingMonitor monitor;
    FramePipeline pipeline;
    FrameRecorder recorder;
    Sink sink;
  };
  std::vector<Received> Feed(const Bytes& stream) {
    Receiver r(clock_);
    r.pipeline.Receive(stream);
    return r.sink.frames;
  }

  testing::FixedClock clock_{FromUtcMillis(kNowMs)};
  const Bytes data_ = {0xC0, 0x00, 0x41, 0x42, 0xC0};
};

TEST_F(StampedStreamTest, AStampTimesTheNextFrameOnlyWhenItIsPlausible) {
  const Received live{kNowMs, TimeSource::kLive, false, 5};
  const auto kiss = [](std::int64_t ms) { return Received{ms, TimeSource::kKiss, true, 5}; };
  const struct {
    const char* what;
    Bytes stream;
    std::vector<Received> want;
  } cases[] = {
      {"stamped", Concat({Stamp(kEscapedTime), data_, data_}), {kiss(kEscapedTime), live}},
      {"the later of two",
       Concat({Stamp(kNowMs - 5), Stamp(kNowMs - 2), data_}),
       {kiss(kNowMs - 2)}},
      {"an hour ahead", Concat({Stamp(kNowMs + kHourMs), data_}), {kiss(kNowMs + kHourMs)}},
      {"zero", Concat({Stamp(kNowMs - 2), Stamp(0), data_}), {live}},
      {"1989", Concat({Stamp(kEarliestFrameTimeMs - 1), data_}), {live}},
      {"two days ahead", Concat({Stamp(kNowMs + 48 * kHourMs), data_}), {live}},
      {"negative", Concat({Stamp(-1), data_}), {live}},
      {"port 1",
       Concat({Bytes{0xC0, 0x19, 0, 0, 1, 0x90, 0, 0, 0, 0, 0xC0}, data_}),
       {Received{kNowMs, TimeSource::kLive, false, 11}, live}},
      {"nothing after", Stamp(kNowMs - 2), {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Feed(c.stream), c.want) << c.what;
}

// A forgotten time (the stream broke off after the stamp) times nothing.
TEST_F(StampedStreamTest, AForgottenStampTimesNothing) {
  Receiver r(clock_);
  r.pipeline.Receive(Stamp(kNowMs - 9));
  r.recorder.ForgetNextFrameTime();
  r.recorder.SetNextFrameTime(kNowMs - 7, TimeSource::kPcap);
  r.pipeline.Receive(data_);
  r.pipeline.Receive(Stamp(kNowMs - 3));
  r.recorder.ForgetNextFrameTime();
  r.pipeline.Receive(data_);
  EXPECT_EQ(r.sink.frames, (std::vector<Received>{{kNowMs - 7, TimeSource::kPcap, true, 5},
                                                  {kNowMs, TimeSource::kLive, false, 5}}));
}

// Each frame is logged after a stamp of the clock's time, in one piece; a stamp
// received is logged as it came and keeps its frame, which gets none of ours.
TEST(StampedRawLogTest, EachFrameAfterItsTimeAndReceivedStampsKept) {
  testing::FixedClock clock{FromUtcMillis(kNowMs)};
  testing::FrameCollector log;
  StampedRawLog stamped(log, clock);
  const Bytes data = {0xC0, 0x00, 0x41, 0xC0};
  for (const Bytes& frame : {data, Stamp(kEscapedTime), data, data}) stamped.AppendFrame(frame);
  EXPECT_EQ(log.frames, (std::vector<Bytes>{Concat({Stamp(kNowMs), data}), Stamp(kEscapedTime),
                                            data, Concat({Stamp(kNowMs), data})}));
}

TEST(RawLogSettingsTest, TimeStampsOnlyWhenSwitchedOn) {
  const testing::TempDir dir("rawlog-settings");
  const std::string path = RawLogSettingsPathBeside(dir.Path("zevrinkiss.ini"));
  EXPECT_EQ(path, dir.Path("zevrinkiss-rawlog.ini"));
  EXPECT_FALSE(ReadRawLogSettings(path).kiss_timestamps) << "no file";
  const std::pair<const char*, bool> files[] = {
      {"# comment\n kiss_timestamps = yes \r\nother=0\n", true},
      {"kiss_timestamps=1\nkiss_timestamps=off\n", false},
      {"kiss_timestamps=2\n", false},
  };
  for (const auto& [text, on] : files) {
    dir.Write("zevrinkiss-rawlog.ini", text);
    EXPECT_EQ(ReadRawLogSettings(path).kiss_timestamps, on) << text;
  }
}

}  // namespace
}  // namespace zevrin
