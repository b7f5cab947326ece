#include "link/serial_port_qt.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "link/pty.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;

// The hang-up of an open port is checked with the whole main window around it.
TEST(QtSerialPortTest, PortsMapToComLinksOrToTtySAndOnlyGoodOnesOpen) {
  testing::TempDir dir{"serial"};
  testing::Pty pty;
  ASSERT_TRUE(pty.ok());
  fs::create_symlink(pty.slave_path(), dir / "com1");
  EXPECT_EQ(SerialDevicePath(1, dir.string()), (dir / "com1").string());
  EXPECT_EQ(SerialDevicePath(3, dir.string()), "/dev/ttyS2");
  EXPECT_EQ(CharacterDevicePath((dir / "com1").string()), pty.slave_path());

  dir.Write("com2", "not a device");
  fs::create_symlink(dir / "nowhere", dir / "com3");
  QtSerialPort port{dir.string()};
  // The last one exists, but its settings are unknown.
  const std::pair<int, const char*> cannot_open[] = {
      {0, "9600,N,8,1"}, {2, "9600,N,8,1"}, {3, "9600,N,8,1"}, {1, "9600,Q,8,1"}};
  for (const auto& [number, settings] : cannot_open) {
    port.SetPortNumber(static_cast<std::int16_t>(number));
    port.SetSettings(settings);
    port.Open();
    EXPECT_FALSE(port.IsOpen()) << number;
  }
  EXPECT_TRUE(port.ReadAll().empty());
}

TEST(QtSerialPortTest, BadLineSettingsAreRejected) {
  for (const char* bad : {"9600,N,8", "9600,N,8,1,1", "9600,X,8,1", "9600,N,9,1", "0,N,8,1",
                          "96OO,N,8,1", "9600,N,8,3"}) {
    EXPECT_FALSE(ParseQtLineSettings(bad).has_value()) << bad;
  }
  EXPECT_EQ(ParseQtLineSettings("14400,e,7,2")->parity, QSerialPort::EvenParity);
}

}  // namespace
}  // namespace zevrin
