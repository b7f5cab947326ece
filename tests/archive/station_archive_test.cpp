// The station fills its archive beside its logs, across runs of the main window.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "archive_support.h"
#include "sample/sample_pass.h"
#include "station/station.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Bytes;
using testing::Db;
using ::testing::HasSubstr;
using ::testing::SizeIs;

class StationArchiveTest : public ::testing::Test {
 protected:
  // One run of the main window: start-up, `frames` frames of a pass, shutdown.
  void RunOnce(int frames, std::uint32_t seed) {
    FrameRecorder recorder(program_.analysis, decoder_, fields_, clock_);  // outlives the station
    Station station(program_, port_, view_, view_, clock_, paths_);
    program_.analysis.SetSatelliteDecoder(&decoder_);
    station.SetRecorder(&recorder);
    station.Start();
    port_.waiting = sample::MakePass({.frames = frames, .seed = seed});
    received_ += testing::LoggedFrames(port_.waiting).size();
    station.PortEvent(2);
    station.Stop();
  }

  testing::TempDir dir_{"station-archive"};
  StationPaths paths_{(dir_ / "zevrinkiss.ini").string(), (dir_ / "logs").string()};
  testing::SteppingClock clock_{1245506709000, 3};
  StationProgram program_{clock_};
  DisplayFields fields_;
  TelemetryDecoder decoder_{fields_};
  testing::FakePort port_;
  testing::RecordingStationView view_;
  std::size_t received_ = 0;
};

TEST_F(StationArchiveTest, EveryRunAddsToTheArchiveOfItsStationLabel) {
  std::filesystem::create_directories(dir_ / "logs");
  dir_.Write("zevrinkiss.ini", "03,9600,N,8,1\r\n\r\nLab\r\n");
  RunOnce(100, 1);
  RunOnce(100, 2);
  const std::string path = (dir_ / "logs" / "Lab_archive.sqlite").string();
  Db db(path);
  EXPECT_EQ(db.One("SELECT count(*) FROM frames"), std::to_string(received_));
  EXPECT_EQ(db.Rows("SELECT DISTINCT station, link FROM frames"),
            (std::vector<std::vector<std::string>>{{"Lab", "COM3"}}));
  EXPECT_THAT(view_.counted.problems, SizeIs(0));

  // Another label starts its own archive.
  dir_.Write("zevrinkiss.ini", "03,9600,N,8,1\r\n\r\nField Day\r\n");
  RunOnce(10, 3);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "logs" / "Field_Day_archive.sqlite"));
}

TEST_F(StationArchiveTest, AnArchiveThatCannotBeCreatedIsToldOnceAndFramesStillArrive) {
  // The log directory does not exist: neither logs nor archive can be written.
  dir_.Write("zevrinkiss.ini", "01,9600,N,8,1\r\n\r\nLab\r\n");
  RunOnce(100, 1);
  EXPECT_EQ(
      std::ranges::count_if(view_.counted.problems,
                            [](const std::string& p) { return p.starts_with("The archive "); }),
      1)
      << ::testing::PrintToString(view_.counted.problems);
  EXPECT_THAT(fields_.Field(18), ::testing::Not(::testing::IsEmpty()));  // decoding went on
}

}  // namespace
}  // namespace zevrin
