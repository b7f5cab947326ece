// The program logic behind the main window, with a recording view and fake links, and
// the settings file it reads.

#include "station/station.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "config/settings_file.h"
#include "frames/kiss_frames.h"
#include "support/fakes.h"
#include "support/station_view.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::int64_t kTen = FromCivil({2009, 6, 20, 10, 0, 0});
const Bytes kFrame{0xC0, 0x00, 0x41, 0xC0};

// A KISS-over-TCP link that only records where it was sent.
struct FakeTcpLink final : TcpLink {
  void Connect(const TcpAddress& to) override { address = to, ++connects; }
  void Close() override {}
  bool IsOpen() const override { return false; }
  std::vector<std::uint8_t> ReadAll() override { return {}; }
  void WriteByte(std::uint8_t) override {}
  TcpAddress address;
  int connects = 0;
};

class StationTest : public ::testing::Test {
 protected:
  void WriteSettings(std::string_view text) { dir_.Write("zevrinkiss.ini", text); }
  std::unique_ptr<Station> Start() {
    auto station = std::make_unique<Station>(program_, port_, view_, view_, clock_, paths_);
    station->SetTcpLink(&tcp_);
    station->Start();
    return station;
  }
  void Receive(Station& station, Bytes bytes) {
    port_.waiting = std::move(bytes);
    station.PortEvent(kCommEventReceive);
  }

  testing::TempDir dir_{"station"};
  StationPaths paths_{dir_.Path("zevrinkiss.ini"), dir_.string()};
  testing::FixedClock clock_{{kTen, 0}};
  StationProgram program_{clock_};
  testing::RecordingStationView view_;
  testing::FakePort port_;
  FakeTcpLink tcp_;
};

// A restart (after the setup dialog) keeps the program's state and starts the window's
// state afresh; settings lines the file lacks keep the values held in memory.
TEST_F(StationTest, RestartKeepsProgramStateAndMissingSettingsLinesKeepTheirValues) {
  WriteSettings("03,19200,n,8,1\r\n\r\nLab\r\n");  // an empty line 2: the default server
  auto station = Start();
  station->ToggleHexdump();
  Receive(*station, {0xC0, 0x00, 0x41});  // a frame in progress
  clock_.Set({kTen + 5, 0});
  station->Tick();
  station->Stop();

  WriteSettings("06,9600,n,8,1\r\n");
  view_.events.clear();
  station = Start();
  EXPECT_THAT(view_.events, ElementsAre(HasSubstr("[Lab]"), "sync:time.nist.gov",
                                        "port-label:COM6 9600,N,8,1 initialized "));
  EXPECT_FALSE(station->hexdump());
  EXPECT_EQ(program_.receive.frame_length, 0);  // the port was opened anew
  EXPECT_EQ(program_.receive.byte_count, 3);
  station->Stop();

  fs::remove(dir_ / "zevrinkiss.ini");  // missing: port 1 at 9600 baud, then the dialog
  view_.events.clear();
  station = Start();
  EXPECT_THAT(view_.events,
              ElementsAre(HasSubstr("[Lab]"), "sync:time.nist.gov",
                          "port-label:COM1 9600,N,8,1 initialized ", "setup-dialog:"));
}

TEST_F(StationTest, TickCountsSecondsSinceTheLastPacketWithThePreviousGap) {
  auto station = Start();              // 10:00:00
  std::vector<std::string> shown(74);  // by seconds after 10:00:00
  for (int t = 1; t <= 73; ++t) {
    clock_.Set({kTen + t, 0});
    if (t == 30 || t == 31 || t == 72) Receive(*station, kFrame);
    station->Tick();
    shown[t] = view_.clock + " " + view_.last_packet;
  }
  // A frame at two ticks in a row keeps the gap before the first.
  EXPECT_EQ(shown[30], "10:00:30 0 sec since last packet [29]");
  EXPECT_EQ(shown[31], "10:00:31 0 sec since last packet [29]");
  EXPECT_EQ(shown[32], "10:00:32 1 sec since last packet [29]");
  EXPECT_EQ(shown[73], "10:01:13 1 sec since last packet [40]");
  station->Clear();
  EXPECT_EQ(view_.events.back(), "counter:");  // the counters shown empty, not stale
}

// Frames five times a second from start-up on: every tick finds a frame within its
// second, and the label leaves its layout caption at the first tick all the same,
// in a restarted window too.
TEST_F(StationTest, BusyPassReplacesTheLabelCaptionAtTheFirstTick) {
  for (int run = 0; run < 2; ++run) {
    auto station = Start();
    view_.last_packet.clear();
    for (int ms = 200; ms <= 1400; ms += 200) {
      clock_.Set({kTen + run * 10 + ms / 1000, ms % 1000});
      Receive(*station, kFrame);
      if (ms == 400) station->Tick();
    }
    EXPECT_EQ(view_.last_packet, "0 sec since last packet [0]") << run;
    station->Stop();
  }
}

// The TNC button and the keys of the eight-bit set go out only while the port is open.
TEST_F(StationTest, KissButtonAndKeysOfTheEightBitSetGoOutOnlyWhileThePortIsOpen) {
  auto station = Start();
  station->SendKissModeCommand();
  for (const int key : {int{'K'}, 13, 27, 8, 0xE9, 0x20AC, -1}) station->TerminalKey(key);
  EXPECT_THAT(port_.written, ElementsAre(0x1B, 0x40, 0x6B, 0x0D, 'K', 0x0D, 0x1B, 0x08, 0xE9));
  station->Stop();
  port_.written.clear();
  port_.openable = false;
  station = Start();
  view_.events.clear();
  station->SendKissModeCommand();
  station->TerminalKey(27);
  EXPECT_THAT(port_.written, ::testing::IsEmpty());
  EXPECT_THAT(view_.events, ElementsAre("status:set TNC in KISS mode", "terminal:[ESC]"));
}

TEST_F(StationTest, HexdumpCheckedAfterStartUpOpensTheDumpLogForTheNextFrame) {
  auto station = Start();
  testing::RecordingMonitor monitor;  // the dump log copies the monitor entry
  program_.analysis.SetMonitor(&monitor);
  Receive(*station, {0xC0, 0x00, 0x01, 0xC0});
  clock_.Set({kTen + 180, 0});
  station->ToggleHexdump();
  Receive(*station, {0xC0, 0x00, 0x02, 0xC0});
  station->ToggleHexdump();  // unchecked again: no more lines
  Receive(*station, {0xC0, 0x00, 0x03, 0xC0});
  station->Stop();

  const std::string dump = dir_.Contents("_20062009_1003.dmp");
  EXPECT_THAT(dump, HasSubstr("UTC: [4 Bytes KISS Frame (without CRC)]\r\n"));
  EXPECT_EQ(dump.find("UTC: ["), dump.rfind("UTC: ["));  // one frame only
  EXPECT_EQ(dump.substr(dump.size() - 4), "\r\n\r\n");
  EXPECT_THAT(dir_.Files(".hex"), ::testing::IsEmpty());  // empty, so deleted at shutdown
}

// With kiss_timestamps in the raw-log settings beside the settings file, each
// frame of the raw log follows a time stamp of its reception; without, the raw
// log is as ever.
TEST_F(StationTest, RawLogTimeStampsOnlyWhenTheRawLogSettingsAskForThem) {
  for (const bool stamped : {false, true}) {
    std::filesystem::remove(dir_ / "_20062009_1000.kss");
    dir_.Write("zevrinkiss-rawlog.ini", stamped ? "kiss_timestamps=1\n" : "kiss_timestamps=0\n");
    auto station = Start();
    Receive(*station, kFrame);
    station->Stop();
    Bytes want;
    if (stamped) AppendKissTimestampFrame(want, kTen * 1000);
    want.insert(want.end(), kFrame.begin(), kFrame.end());
    EXPECT_EQ(dir_.Contents("_20062009_1000.kss"), std::string(want.begin(), want.end()))
        << stamped;
  }
}

// Lines end in CR LF, CR or LF; lines the file lacks keep the values held before. Only
// the head of each line and of the file is read: a huge line costs nothing, and the
// lines behind it count as missing when they start past the head of the file.
TEST_F(StationTest, SettingsFileLinesAreReadInPartAndMissingOnesKeepEarlierValues) {
  const std::string path = (dir_ / kSettingsFileName).string();
  const auto read = [&](SettingsReadResult expected) {
    SettingsLines lines{"05,4800,N,8,1", "host", "Lab"};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadSettingsFile(path, lines), expected);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    return lines.settings_line + "|" + lines.time_server_host + "|" + lines.station_label;
  };
  const std::string huge(10'000'000, '7');
  const std::pair<std::string, std::string> cases[] = {
      {"01,9600,N,8,1\rh2\nLab2", "01,9600,N,8,1|h2|Lab2"},
      {"01," + huge + "\r\nhost2\r\nLab2\r\n", "01," + huge.substr(0, 253) + "|host|Lab"},
      {"01,9600,N,8,1\r\nhost2\r\n" + huge, "01,9600,N,8,1|host2|" + huge.substr(0, 256)},
  };
  for (const auto& [text, lines] : cases) {
    dir_.Write(kSettingsFileName, text);
    EXPECT_EQ(read(SettingsReadResult::kRead), lines) << text.substr(0, 40);
  }
  fs::remove(path);
  fs::create_directory(path);  // there, but not readable as a file
  EXPECT_EQ(read(SettingsReadResult::kFailed), "05,4800,N,8,1|host|Lab");

  dir_.Write("a.ini", "a longer file than the one written next\r\n");
  EXPECT_EQ(WriteSettingsFile(dir_.Path("a.ini"), {"12,115200,E,7,2", "t", ""}), std::nullopt);
  EXPECT_EQ(dir_.Contents("a.ini"), "12,115200,E,7,2\r\nt\r\n\r\n");
}

// The label never leads a log out of its directory, never hides it, never cuts its
// name short; the title shows it as read, less its control characters.
TEST_F(StationTest, LabelIsMadeSafeForLogNamesAndShownWithoutControlCharacters) {
  EXPECT_EQ(FileNameLabel(".hidden/a"), "_hidden_a");
  EXPECT_EQ(FileNameLabel("ok-_.9Z \xC3\xA9\xE9"), "ok-_.9Z___");  // UTF-8 and a stray byte
  using namespace std::string_literals;
  WriteSettings("01,9600,N,8,1\r\n\r\n../../La\0b\x1B\x7F\xC2\x85!\r\n"s);
  auto station = Start();
  EXPECT_EQ(view_.events.front(),
            "title:ZEVRIN TARVELO Housekeeping Data Decoder V. 1.7.4          [../../Lab!]");
  EXPECT_THAT(dir_.Files(".kss"), ElementsAre("_._.._La_b_____20062009_1000.kss"));
}

// The port label stays as it was; its tooltip says why the port is closed.
TEST_F(StationTest, PortThatCannotBeOpenedSaysWhyInTheTooltip) {
  port_.openable = false;
  port_.failure = PortOpenFailure{"/dev/ttyS0", "Permission denied", true};
  auto station = Start();
  EXPECT_EQ(view_.port_tip,
            "cannot open /dev/ttyS0: Permission denied: add your user to the dialout group");
  EXPECT_EQ(view_.events[2], "port-label:COM1 9600,N,8,1 initialized ");
  EXPECT_EQ(PortToolTipText(PortOpenFailure{"/dev/x", "No such file or directory"}),
            "cannot open /dev/x: No such file or directory");
}

// A "tcp:" line connects to its address with the TNC controls off; a malformed one
// connects nowhere and says why.
TEST_F(StationTest, TcpLineConnectsOrSaysWhyNot) {
  for (const char* line : {"TCP:192.0.2.7:8001", "tcp:localhost"}) {
    WriteSettings(std::string(line) + "\r\n127.0.0.1\r\nLab\r\n");
    auto station = Start();
    EXPECT_FALSE(view_.tnc_controls || port_.IsOpen()) << line;
    station->Stop();
  }
  EXPECT_EQ(tcp_.connects, 1);
  EXPECT_EQ(tcp_.address, (TcpAddress{"192.0.2.7", 8001}));
  for (const char* said : {"port-label:TCP 192.0.2.7:8001 not connected",
                           "port-label:TCP address invalid", "no KISS over TCP address"})
    EXPECT_THAT(view_.events, ::testing::Contains(HasSubstr(said)));
}

}  // namespace
}  // namespace zevrin
