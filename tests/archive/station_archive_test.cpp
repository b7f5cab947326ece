// The station fills its archive beside its logs, across runs of the main window.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "archive_support.h"
#include "link/station.h"
#include "sample/sample_pass.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Bytes;
using testing::Db;
using ::testing::HasSubstr;
using ::testing::SizeIs;

struct View final : StationView, ClockSyncStarter {
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view) override {}
  // One entry each time a log or the archive starts failing.
  void LogNoticeChanged(const LogNotice& notice) override {
    bool& failing = failing_by_path[notice.path];
    if (!notice.complete_now && !failing) problems.push_back(LogNoticeText(notice));
    failing = !notice.complete_now;
  }
  void SetWindowTitle(std::string_view) override {}
  void SetPortLabel(std::string_view) override {}
  void SetLastPacketText(std::string_view) override {}
  void SetClockText(std::string_view) override {}
  void ShowPortOpen(bool) override {}
  void SetTerminalText(std::string_view) override {}
  void ClearMonitor() override {}
  void OpenSetupDialog() override {}
  void EnableTncControls(bool, std::string_view) override {}
  void BeginClockSync(std::string_view) override {}
  std::vector<std::string> problems;
  std::map<std::string, bool> failing_by_path;
};

class StationArchiveTest : public ::testing::Test {
 protected:
  // One run of the main window: start-up, `frames` frames of a pass, shutdown.
  void RunOnce(int frames, std::uint32_t seed) {
    FrameRecorder recorder(program_.analysis, decoder_, fields_, clock_);  // outlives the station
    Station station(program_, port_, view_, view_, clock_, paths_);
    program_.analysis.SetSatelliteDecoder(&decoder_);
    station.SetRecorder(&recorder);
    station.Form_Load();
    port_.waiting = sample::MakePass({.frames = frames, .seed = seed});
    received_ += testing::LoggedFrames(port_.waiting).size();
    station.OnComm(2);
    station.Form_Unload();
  }

  testing::TempDir dir_{"station-archive"};
  StationPaths paths_{(dir_ / "zevrinkiss.ini").string(), (dir_ / "logs").string()};
  testing::SteppingClock clock_{1245506709000, 3};
  StationProgram program_{clock_};
  DisplayFields fields_;
  TelemetryDecoder decoder_{fields_};
  testing::FakePort port_;
  View view_;
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
  EXPECT_GT(std::stoi(db.One("SELECT count(*) FROM power_housekeeping")), 20);
  EXPECT_THAT(view_.problems, SizeIs(0));

  // Another label starts its own archive.
  dir_.Write("zevrinkiss.ini", "03,9600,N,8,1\r\n\r\nField Day\r\n");
  RunOnce(10, 3);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "logs" / "Field_Day_archive.sqlite"));
}

TEST_F(StationArchiveTest, AnArchiveThatCannotBeCreatedIsToldOnceAndFramesStillArrive) {
  // The log directory does not exist: neither logs nor archive can be written.
  dir_.Write("zevrinkiss.ini", "01,9600,N,8,1\r\n\r\nLab\r\n");
  RunOnce(100, 1);
  const auto archive_problems = std::ranges::count_if(
      view_.problems, [](const std::string& p) { return p.starts_with("The archive "); });
  EXPECT_EQ(archive_problems, 1) << ::testing::PrintToString(view_.problems);
  EXPECT_THAT(fields_.Field(18), ::testing::Not(::testing::IsEmpty()));  // decoding went on
}

}  // namespace
}  // namespace zevrin
