#include "link/station.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "clock/time_sync.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The window and the clock synchronisation: every call in order, as "what:text".
struct RecordingStationView final : StationView, ClockSyncStarter {
  void SetStatusText(std::string_view t) override { Add("status", t); }
  void SetReceiveCounterText(std::string_view t) override { Add("counter", t); }
  void ShowLogProblem(std::string_view t) override { Add("log-problem", t); }
  void ShowLogRecovered(std::string_view t) override { Add("log-ok", t); }
  void SetWindowTitle(std::string_view t) override { Add("title", t); }
  void SetPortLabel(std::string_view t) override { Add("port-label", t); }
  void SetLastPacketText(std::string_view t) override { last_packet = t; }
  void SetClockText(std::string_view t) override { clock = t; }
  void ShowPortOpen(bool open) override { port_open = open; }
  void SetTerminalText(std::string_view t) override { Add("terminal", t); }
  void ClearMonitor() override { Add("clear-monitor", ""); }
  void OpenSetupDialog() override { Add("setup-dialog", ""); }
  void BeginClockSync(std::string_view host) override { Add("sync", host); }
  void Add(const char* what, std::string_view text) {
    events.push_back(std::string(what) + ":" + std::string(text));
  }
  std::vector<std::string> events;
  std::string last_packet, clock;
  bool port_open = false;
};

const std::int64_t kTen = FromCivil({2009, 6, 20, 10, 0, 0});

class StationTest : public ::testing::Test {
 protected:
  void WriteSettings(std::string_view text) { dir_.Write("zevrinkiss.ini", text); }
  std::unique_ptr<Station> Start() {
    auto station = std::make_unique<Station>(program_, port_, view_, view_, clock_, paths_);
    station->Form_Load();
    return station;
  }
  void Receive(Station& station, Bytes bytes) {
    port_.waiting = std::move(bytes);
    station.OnComm(2);
  }

  testing::TempDir dir_{"station"};
  StationPaths paths_{(dir_ / "zevrinkiss.ini").string(), dir_.string()};
  testing::FixedClock clock_{{kTen, 0}};
  StationProgram program_{clock_};
  RecordingStationView view_;
  testing::FakePort port_;
};

TEST_F(StationTest, StartUpFromTheSettingsFile) {
  WriteSettings("03,19200,n,8,1\r\n\r\nLab\r\n");  // an empty line 2: the default server
  auto station = Start();
  EXPECT_THAT(view_.events,
              ElementsAre("title:ZEVRIN TARVELO Housekeeping Data Decoder V. 1.7.4          [Lab]",
                          "sync:time.nist.gov", "port-label:COM3 19200,N,8,1 initialized "));
  EXPECT_TRUE(port_.IsOpen() && port_.binary);
  EXPECT_THAT(dir_.Files(".kss"), ElementsAre("Lab_20062009_1000.kss"));
  station->Form_Unload();

  fs::remove(dir_ / "zevrinkiss.ini");  // missing: port 1 at 9600 baud, then the dialog
  view_.events.clear();
  station = Start();
  EXPECT_THAT(view_.events, ElementsAre(HasSubstr("[Lab]"), "sync:time.nist.gov",
                                        "port-label:COM1 9600,N,8,1 initialized ", "setup-dialog:"));
}

TEST_F(StationTest, ARestartKeepsProgramStateAndStartsTheWindowStateAfresh) {
  WriteSettings("05,4800,N,8,1\r\ntime.example\r\nLab\r\n");
  auto first = Start();
  first->Mnu_ASCII_Hexdump_Click();
  Receive(*first, {0xC0, 0x00, 0x41});  // a frame in progress
  clock_.Set({kTen + 5, 0});
  first->Timer1_Timer();
  first->Form_Unload();

  WriteSettings("06,9600,n,8,1\r\n");  // fewer lines: host and label stay as held in memory
  view_.events.clear();
  auto second = Start();
  EXPECT_FALSE(second->hexdump());
  EXPECT_THAT(view_.events, Contains("sync:time.example"));
  EXPECT_THAT(view_.events, Contains(HasSubstr("[Lab]")));
  EXPECT_EQ(port_.PortNumber(), 6);
  EXPECT_EQ(program_.receive.FrameLength, 0);  // the port was opened anew
  EXPECT_EQ(program_.receive.ByteCount, 3);
  EXPECT_EQ(program_.last_packet.LastShownSeconds, 5);
}

TEST_F(StationTest, TickCountsSecondsSinceTheLastPacketWithThePreviousGap) {
  auto station = Start();            // 10:00:00
  std::map<int, std::string> shown;  // by seconds after 10:00:00
  for (int t = 1; t <= 73; ++t) {
    clock_.Set({kTen + t, 0});
    if (t == 30 || t == 72) Receive(*station, {0xC0, 0x00, 0x41, 0xC0});
    station->Timer1_Timer();
    shown[t] = view_.clock + " " + view_.last_packet;
  }
  EXPECT_EQ(shown[29], "10:00:29 29 sec since last packet [0]");
  EXPECT_EQ(shown[30], "10:00:30 29 sec since last packet [0]");  // left as it was
  EXPECT_EQ(shown[31], "10:00:31 1 sec since last packet [29]");
  EXPECT_EQ(shown[71], "10:01:11 41 sec since last packet [29]");
  EXPECT_EQ(shown[73], "10:01:13 1 sec since last packet [41]");
  EXPECT_TRUE(view_.port_open);
}

TEST_F(StationTest, KissButtonAndKeysOfTheEightBitSetGoOutOnlyWhileThePortIsOpen) {
  auto station = Start();
  station->Command4_Click();
  for (const int key : {int{'K'}, 13, 27, 8, 0xE9, 0x20AC, -1}) station->Text2_KeyPress(key);
  EXPECT_THAT(port_.written, ElementsAre(0x1B, 0x40, 0x6B, 0x0D, 'K', 0x0D, 0x1B, 0x08, 0xE9));
  station->Form_Unload();

  port_.written.clear();
  port_.openable = false;
  station = Start();
  station->Timer1_Timer();
  EXPECT_FALSE(view_.port_open);
  view_.events.clear();
  station->Command4_Click();
  station->Text2_KeyPress(27);
  EXPECT_THAT(port_.written, IsEmpty());
  EXPECT_THAT(view_.events, ElementsAre("status:set TNC in KISS mode", "terminal:[ESC]"));
}

TEST_F(StationTest, HexdumpCheckedAfterStartUpOpensTheDumpLogForTheNextFrame) {
  auto station = Start();
  testing::RecordingMonitor monitor;  // the dump log copies the monitor entry
  program_.analysis.SetMonitor(&monitor);
  Receive(*station, {0xC0, 0x00, 0x01, 0xC0});
  EXPECT_THAT(dir_.Files(".dmp"), IsEmpty());
  clock_.Set({kTen + 180, 0});
  station->Mnu_ASCII_Hexdump_Click();
  EXPECT_THAT(dir_.Files(".hex"), ElementsAre("_20062009_1003.hex"));
  Receive(*station, {0xC0, 0x00, 0x02, 0xC0});
  station->Mnu_ASCII_Hexdump_Click();  // unchecked again: no more lines
  Receive(*station, {0xC0, 0x00, 0x03, 0xC0});
  station->Form_Unload();

  const std::string dump = dir_.Contents("_20062009_1003.dmp");
  EXPECT_THAT(dump, HasSubstr("UTC: [4 Bytes KISS Frame (without CRC)]\r\n"));
  EXPECT_EQ(dump.find("UTC: ["), dump.rfind("UTC: ["));  // one frame only
  EXPECT_EQ(dump.substr(dump.size() - 4), "\r\n\r\n");
  EXPECT_THAT(dir_.Files(".hex"), IsEmpty());
}

TEST_F(StationTest, ShutdownFailuresGoToTheStatusBar) {
  auto other = Start();
  fs::remove(dir_ / "_20062009_1000.kss");  // an empty log gone before shutdown
  view_.events.clear();
  other->Form_Unload();
  EXPECT_THAT(view_.events, ElementsAre(HasSubstr("No such file or directory")));
  EXPECT_FALSE(port_.IsOpen());
}

}  // namespace
}  // namespace zevrin
