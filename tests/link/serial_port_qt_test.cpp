#include "link/serial_port_qt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <string>

#include "link/pty.h"
#include "support/qt_wait.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using ::testing::IsEmpty;

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
  EXPECT_TRUE(testing::WaitFor([&] { return !port_.IsOpen(); }, 1000));
  EXPECT_EQ(lost_, 1);
  EXPECT_LT(testing::CpuMicrosWhileWaiting(500), 50000);  // under 10 % of one core
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

}  // namespace
}  // namespace zevrin
