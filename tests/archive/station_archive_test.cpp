// The station fills its archive beside its logs, across runs of the main window.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "archive_support.h"
#include "sample/sample_pass.h"
#include "station/station.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

class StationArchiveTest : public ::testing::Test {
 protected:
  // One run of the main window: start-up, `frames` frames of a pass in one
  // notification, shutdown. Returns the frames the archive shows right after it.
  // `meanwhile` runs after the frames are handed over, before the archive is read
  // (after the archive has written them, with `drain`).
  std::string RunOnce(const std::string& settings, int frames, std::uint32_t seed,
                      const std::function<void()>& meanwhile = {}, bool drain = true) {
    dir_.Write("zevrinkiss.ini", settings);
    FrameRecorder recorder(program_.analysis, decoder_, fields_, clock_);  // outlives the station
    Station station(program_, port_, view_, view_, clock_, paths_);
    program_.analysis.SetSatelliteDecoder(&decoder_);
    station.SetRecorder(&recorder);
    station.Start();
    port_.waiting = sample::MakePass({.frames = frames, .seed = seed});
    received_ += testing::LoggedFrames(port_.waiting).size();
    station.PortEvent(2);
    if (meanwhile) meanwhile();
    if (drain) station.archive().Drain();
    const std::string committed = Archive().One("SELECT count(*) FROM frames");
    station.Stop();
    return committed;
  }

  testing::Db Archive() const {
    return testing::Db((dir_ / "logs" / "Lab_archive.sqlite").string());
  }

  testing::TempDir dir_{"station-archive"};
  StationPaths paths_{dir_.Path("zevrinkiss.ini"), dir_.Path("logs")};
  testing::SteppingClock clock_{1245506709000, 3};
  StationProgram program_{clock_};
  DisplayFields fields_;
  TelemetryDecoder decoder_{fields_};
  testing::FakePort port_;
  testing::RecordingStationView view_;
  std::size_t received_ = 0;
};

// The log directory does not exist: neither logs nor archive can be written.
TEST_F(StationArchiveTest, AnArchiveThatCannotBeCreatedIsToldOnceAndFramesStillArrive) {
  RunOnce("01,9600,N,8,1\r\n\r\nLab\r\n", 100, 1);
  EXPECT_THAT(view_.counted.problems,
              ::testing::Contains(::testing::StartsWith("The archive ")).Times(1));
  EXPECT_FALSE(fields_.Field(18).empty());  // decoding went on
}

// Every run adds to the archive of its station label; the frames of a notification
// reach it without waiting for more. Another program holds the archive while
// frames of the second run arrive: reception goes on at once, and the frames
// reach the archive when the lock is gone.
TEST_F(StationArchiveTest, EveryRunAddsAndFramesWaitForALockedArchive) {
  std::filesystem::create_directories(dir_ / "logs");
  const auto arrived = [&] {
    for (int i = 0; i < 500 && Archive().One("SELECT count(*) FROM frames") != "10"; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  const std::string first = RunOnce("03,9600,N,8,1\r\n\r\nLab\r\n", 10, 1, arrived, false);
  EXPECT_EQ(first, std::to_string(received_));
  auto other = testing::LockArchive((dir_ / "logs" / "Lab_archive.sqlite").string());
  const std::string during =
      RunOnce("03,9600,N,8,1\r\n\r\nLab\r\n", 100, 2, [&] { other.reset(); });
  EXPECT_EQ(during, std::to_string(received_));
  EXPECT_EQ(Archive().Rows("SELECT DISTINCT station, link FROM frames"),
            (std::vector<std::vector<std::string>>{{"Lab", "COM3"}}));
  EXPECT_TRUE(view_.counted.problems.empty()) << ::testing::PrintToString(view_.counted.problems);
}

// The raw log finds no space: the archive leaves the disk to it and keeps its
// frames, which it writes at the end of the run.
TEST_F(StationArchiveTest, TheArchiveWaitsWhileTheRawLogFindsNoSpace) {
  std::filesystem::create_directories(dir_ / "logs");
  std::filesystem::create_symlink(
      "/dev/full", LogFileName(dir_.Path("logs"), "Lab", 1245506709, kRawLogExtension));
  const std::string held = RunOnce(
      "03,9600,N,8,1\r\n\r\nLab\r\n", 100, 1,
      [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }, false);
  EXPECT_EQ(held, "0");
  EXPECT_EQ(Archive().One("SELECT count(*) FROM frames"), std::to_string(received_));
}

}  // namespace
}  // namespace zevrin
