#include "link/serial_port_qt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "link/pty.h"
#include "link/station.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Bytes = std::vector<std::uint8_t>;

class QtSerialPortTest : public ::testing::Test {
 protected:
  static fs::path TestDir() {
    return fs::temp_directory_path() /
           ("serial-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void SetUp() override {
    fs::create_directories(dir_);
    ASSERT_TRUE(pty_.ok());
    fs::create_symlink(pty_.slave_path(), dir_ / "com1");
    QObject::connect(&port_, &QtSerialPort::PortLost, [this](const QString&) { ++lost_; });
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the event loop until `done` holds or `ms` have passed.
  template <typename Fn>
  static bool WaitFor(Fn done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) QTest::qWait(5);
    return done();
  }

  void OpenCom1(const std::string& settings = "9600,N,8,1") {
    port_.SetPortNumber(1);
    port_.SetSettings(settings);
    port_.SetBinaryInput();
    port_.Open();
  }

  fs::path dir_ = TestDir();
  testing::Pty pty_;
  QtSerialPort port_{dir_.string()};
  int lost_ = 0;
};

TEST_F(QtSerialPortTest, PortNumbersMapToComLinksOrToTtyS) {
  EXPECT_EQ(SerialDevicePath(1, dir_.string()), (dir_ / "com1").string());
  EXPECT_EQ(SerialDevicePath(3, dir_.string()), "/dev/ttyS2");
  EXPECT_EQ(CharacterDevicePath((dir_ / "com1").string()), pty_.slave_path());
  for (const char* bad : {"9600,N,8", "9600,N,8,1,1", "9600,X,8,1", "9600,N,9,1", "0,N,8,1",
                          "96OO,N,8,1", "9600,N,8,3"}) {
    EXPECT_FALSE(ParseQtLineSettings(bad).has_value()) << bad;
  }
  EXPECT_EQ(ParseQtLineSettings("14400,e,7,2")->parity, QSerialPort::EvenParity);
}

TEST_F(QtSerialPortTest, WritesReachTheOtherEnd) {
  OpenCom1("19200,E,7,2");
  ASSERT_TRUE(port_.IsOpen());
  for (const std::uint8_t b : {0x1B, 0x40, 0x6B, 0x0D, 0x00}) port_.WriteByte(b);
  Bytes got;
  WaitFor(
      [&] {
        const Bytes more = pty_.Read();
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= 5;
      },
      2000);
  EXPECT_THAT(got, ElementsAre(0x1B, 0x40, 0x6B, 0x0D, 0x00));
}

TEST_F(QtSerialPortTest, APortThatCannotBeOpenedStaysClosed) {
  std::ofstream(dir_ / "com2") << "not a device";
  fs::create_symlink(dir_ / "nowhere", dir_ / "com3");
  for (const int number : {0, 2, 3}) {
    port_.SetPortNumber(static_cast<std::int16_t>(number));
    port_.Open();
    EXPECT_FALSE(port_.IsOpen()) << number;
  }
  OpenCom1("9600,Q,8,1");  // the device exists, the settings are unknown
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_THAT(port_.ReadAll(), IsEmpty());
}

TEST_F(QtSerialPortTest, HangUpClosesThePortOnceAndLeavesTheCpuIdle) {
  OpenCom1();
  ASSERT_TRUE(port_.IsOpen());
  pty_.CloseMaster();
  EXPECT_TRUE(WaitFor([&] { return !port_.IsOpen(); }, 1000));
  EXPECT_EQ(lost_, 1);

  auto cpu_micros = [] {
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000LL + r.ru_utime.tv_usec +
           r.ru_stime.tv_usec;
  };
  const long long before = cpu_micros();
  QTest::qWait(500);
  EXPECT_LT(cpu_micros() - before, 50000);  // under 10 % of one core
  EXPECT_EQ(lost_, 1);
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(QtSerialPortTest, ClosingOnPurposeIsNoLoss) {
  OpenCom1();
  ASSERT_TRUE(port_.IsOpen());
  port_.Close();
  pty_.CloseMaster();
  QTest::qWait(100);
  EXPECT_EQ(lost_, 0);
}

// The window as far as the station needs one: only the status bar is kept.
struct StatusOnlyView final : StationView, ClockSyncStarter {
  void SetStatusText(std::string_view t) override { status = t; }
  void SetReceiveCounterText(std::string_view) override {}
  void ShowLogProblem(std::string_view) override { ++log_problems; }
  void ShowLogRecovered(std::string_view) override {}
  void SetWindowTitle(std::string_view) override {}
  void SetPortLabel(std::string_view) override {}
  void SetLastPacketText(std::string_view) override {}
  void SetClockText(std::string_view) override {}
  void ShowPortOpen(bool) override {}
  void SetTerminalText(std::string_view) override {}
  void ClearMonitor() override {}
  void OpenSetupDialog() override {}
  void BeginClockSync(std::string_view) override {}
  std::string status;
  int log_problems = 0;
};

TEST_F(QtSerialPortTest, BytesArriveAsCode2AndTheRawLogHoldsExactlyTheFramesWritten) {
  std::ofstream(dir_ / "zevrinkiss.ini", std::ios::binary) << "01,115200,N,8,1\r\n\r\nLab\r\n";
  SystemClock clock;
  StationProgram program(clock);
  StatusOnlyView view;
  QtSerialPort port(dir_.string());
  StationPaths paths{(dir_ / "zevrinkiss.ini").string(), dir_.string()};
  Station station(program, port, view, view, clock, paths);
  QObject::connect(&port, &QtSerialPort::CommEvent,
                   [&](int code) { station.OnComm(static_cast<std::int16_t>(code)); });
  QObject::connect(&port, &QtSerialPort::PortLost,
                   [&](const QString& reason) { station.PortLost(reason.toStdString()); });
  station.Form_Load();
  ASSERT_TRUE(port.IsOpen());

  // KISS frames with escapes, written in pieces that cut frames anywhere.
  std::mt19937 random(1407);
  Bytes stream;
  for (int frame = 0; frame < 300; ++frame) {
    stream.push_back(0xC0);
    stream.push_back(0x00);
    const int length = 1 + static_cast<int>(random() % 300);
    for (int i = 0; i < length; ++i) {
      const std::uint8_t b = static_cast<std::uint8_t>(random());
      if (b == 0xC0) {
        stream.insert(stream.end(), {0xDB, 0xDC});
      } else {
        stream.push_back(b);
      }
    }
    stream.push_back(0xC0);
  }
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t n = std::min<std::size_t>(1 + random() % 1000, stream.size() - at);
    ASSERT_TRUE(pty_.Write({stream.data() + at, n}));
    at += n;
    QTest::qWait(0);
  }
  EXPECT_TRUE(
      WaitFor([&] { return program.receive.ByteCount >= std::int32_t(stream.size()); }, 5000));

  pty_.CloseMaster();  // the TNC goes away
  EXPECT_TRUE(WaitFor([&] { return !port.IsOpen(); }, 1000));
  EXPECT_THAT(view.status, ::testing::HasSubstr("COM1 lost"));
  station.Form_Unload();

  std::vector<fs::path> logs;
  for (const auto& e : fs::directory_iterator(dir_)) {
    if (e.path().extension() == ".kss") logs.push_back(e.path());
  }
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_THAT(logs[0].filename().string(), ::testing::StartsWith("Lab_"));
  std::ifstream in(logs[0], std::ios::binary);
  const Bytes logged{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_TRUE(logged == stream);
  EXPECT_EQ(view.log_problems, 0);
}

}  // namespace
}  // namespace zevrin

int main(int argc, char** argv) {
  // Test discovery runs this without the test environment; no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
