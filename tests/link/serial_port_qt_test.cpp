#include "link/serial_port_qt.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <string>

#include "link/pty.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;

// Port 1 is a link to a pseudo-terminal in the test's own device directory.
class QtSerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    fs::create_symlink(pty_.slave_path(), dir_ / "com1");
    QObject::connect(&port_, &QtSerialPort::PortLost, [this](const QString&) { ++lost_; });
  }
  bool Open(int number, const std::string& settings = "9600,N,8,1") {
    port_.SetPortNumber(static_cast<std::int16_t>(number));
    port_.SetSettings(settings);
    port_.SetBinaryInput();
    port_.Open();
    return port_.IsOpen();
  }

  testing::TempDir dir_{"serial"};
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
  dir_.Write("com2", "not a device");
  fs::create_symlink(dir_ / "nowhere", dir_ / "com3");
  for (const int number : {0, 2, 3}) EXPECT_FALSE(Open(number)) << number;
  EXPECT_FALSE(Open(1, "9600,Q,8,1"));  // the device exists, the settings are unknown
  EXPECT_TRUE(port_.ReadAll().empty());
}

TEST_F(QtSerialPortTest, HangUpClosesThePortOnceAndLeavesTheCpuIdle) {
  ASSERT_TRUE(Open(1));
  pty_.CloseMaster();
  EXPECT_TRUE(testing::WaitFor([&] { return !port_.IsOpen(); }, 1000));
  EXPECT_LT(testing::CpuMicrosWhileWaiting(500), 50000);  // under 10 % of one core
  EXPECT_EQ(lost_, 1);
}

TEST_F(QtSerialPortTest, ClosingOnPurposeIsNoLoss) {
  ASSERT_TRUE(Open(1));
  port_.Close();
  pty_.CloseMaster();
  QTest::qWait(100);
  EXPECT_EQ(lost_, 0);
}

}  // namespace
}  // namespace zevrin
