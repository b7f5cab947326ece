// The serial port against pseudo-terminals the tests open, and the setup dialog. The
// hang-up of an open port and the restart after "ok" are checked with the whole main
// window around them.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "adapters/qt_serial_port.h"
#include "dialogs/setup_dialog.h"
#include "link/pty.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;

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

// Links beside the settings file in use come first, then those of the working directory.
TEST(QtSerialPortTest, ComLinksAreLookedUpInTheirFoldersInOrder) {
  testing::TempDir config{"serial-config"};
  testing::TempDir work{"serial-work"};
  testing::Pty pty;
  ASSERT_TRUE(pty.ok());
  fs::create_symlink(pty.slave_path(), config / "com1");
  fs::create_symlink("/dev/null", work / "com1");
  fs::create_symlink("/dev/null", work / "com2");
  const std::vector<std::string> folders = {config.string(), work.string()};
  const std::pair<int, std::string> cases[] = {
      {1, (config / "com1").string()}, {2, (work / "com2").string()}, {4, "/dev/ttyS3"}};
  for (const auto& [number, path] : cases) EXPECT_EQ(SerialDevicePath(number, folders), path);

  QtSerialPort port{folders};
  port.SetPortNumber(1);
  port.SetSettings("9600,N,8,1");
  port.Open();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.device(), pty.slave_path());
}

TEST(QtSerialPortTest, BadLineSettingsAreRejected) {
  for (const char* bad : {"9600,N,8", "9600,N,8,1,1", "9600,X,8,1", "9600,N,9,1", "0,N,8,1",
                          "96OO,N,8,1", "9600,N,8,3"}) {
    EXPECT_FALSE(ParseQtLineSettings(bad).has_value()) << bad;
  }
  EXPECT_EQ(ParseQtLineSettings("14400,e,7,2")->parity, QSerialPort::EvenParity);
}

class SetupDialogTest : public ::testing::Test {
 protected:
  // Opens the dialog and clicks `button` ("Command1" is ok, "Command2" cancel). The
  // dialog deletes itself when it closes; the returned pointer notices.
  QPointer<SetupDialog> Click(const char* button) {
    QPointer<SetupDialog> dialog = new SetupDialog(values_);
    dialog->show();
    QObject::connect(dialog.data(), &SetupDialog::RestartRequested, [this] { ++restarts_; });
    QTest::mouseClick(dialog->findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
    QTest::qWait(10);
    return dialog;
  }

  testing::TempDir dir_{"setup"};
  SetupValues values_{
      17, "14400,M,5,1.5", "time.example", "Lab", (dir_ / "zevrinkiss.ini").string(), {}};
  int restarts_ = 0;
};

// Settings missing from the lists are added and selected, so "ok" keeps them.
TEST_F(SetupDialogTest, OkWithoutChangesWritesTheSettingsInForce) {
  Click("Command1");
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), "17,14400,M,5,1.5\r\ntime.example\r\nLab\r\n");
  EXPECT_EQ(restarts_, 1);
}

TEST_F(SetupDialogTest, CancelLeavesTheFileByteForByte) {
  const std::string original("03,19200,n,8,1\n\nLab \xE9\r", 22);
  dir_.Write("zevrinkiss.ini", original);
  EXPECT_TRUE(Click("Command2").isNull());  // closed
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), original);
  EXPECT_EQ(restarts_, 0);
}

TEST_F(SetupDialogTest, AFileThatCannotBeWrittenIsReportedAndTheDialogStays) {
  values_.settings_file = (dir_ / "no-such-dir" / "zevrinkiss.ini").string();
  QPointer<SetupDialog> dialog = Click("Command1");
  EXPECT_EQ(restarts_, 0);
  ASSERT_TRUE(!dialog.isNull() && dialog->isVisible());  // for another try
  auto* box = dialog->findChild<QMessageBox*>("SettingsWriteError");
  ASSERT_TRUE(box != nullptr && box->isVisible());
  EXPECT_TRUE(box->text().contains(QString::fromStdString(values_.settings_file)));
  EXPECT_TRUE(box->text().contains("No such file or directory"));
  delete dialog;
}

// KISS over TCP in force: the dialog opens on it with the serial lists off, and "ok"
// writes it back in the same form (an IPv6 address in brackets).
TEST_F(SetupDialogTest, TcpInForceIsShownAndWrittenBack) {
  values_.tcp = TcpAddress{"::1", 8100};
  auto* dialog = new SetupDialog(values_);
  dialog->show();
  EXPECT_TRUE(dialog->findChild<QRadioButton*>("TcpChoice")->isChecked());
  EXPECT_EQ(dialog->findChild<QLineEdit*>("TcpHost")->text(), "::1");
  EXPECT_EQ(dialog->findChild<QComboBox*>("TcpPort")->currentText(), "8100");
  EXPECT_FALSE(dialog->findChild<QComboBox*>("PortList")->isEnabled());
  EXPECT_TRUE(dialog->findChild<QLineEdit*>("TcpHost")->isEnabled());
  delete dialog;
  Click("Command1");
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), "tcp:[::1]:8100\r\ntime.example\r\nLab\r\n");
  EXPECT_EQ(restarts_, 1);
}

// From the serial port to a software TNC on one of the two common ports; a host or
// port that make no address is refused with a message and nothing is written.
TEST_F(SetupDialogTest, ChoosingTcpWritesTheTcpFormOrRefusesABadAddress) {
  QPointer<SetupDialog> dialog = new SetupDialog(values_);
  dialog->show();
  QObject::connect(dialog.data(), &SetupDialog::RestartRequested, [this] { ++restarts_; });
  auto* host = dialog->findChild<QLineEdit*>("TcpHost");
  auto* port = dialog->findChild<QComboBox*>("TcpPort");
  EXPECT_FALSE(host->isEnabled());
  dialog->findChild<QRadioButton*>("TcpChoice")->click();
  EXPECT_TRUE(host->isEnabled());
  EXPECT_FALSE(dialog->findChild<QComboBox*>("SpeedList")->isEnabled());
  EXPECT_EQ(host->text(), "localhost");
  EXPECT_EQ(port->findText("8001"), 0);
  ASSERT_EQ(port->findText("8100"), 1);

  const std::pair<const char*, const char*> bad[] = {
      {"two words", "8001"}, {"", "8001"}, {"localhost", "0"}, {"localhost", "70000"}};
  for (const auto& [h, p] : bad) {
    host->setText(QString::fromLatin1(h));
    port->setEditText(QString::fromLatin1(p));
    EXPECT_EQ(dialog->ChosenSettingsLine(), "") << h << " " << p;
    dialog->findChild<QPushButton*>("Command1")->click();
    EXPECT_EQ(dialog->findChildren<QMessageBox*>("TcpAddressError").size(), 1u);
    qDeleteAll(dialog->findChildren<QMessageBox*>("TcpAddressError"));
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "zevrinkiss.ini"));
  EXPECT_EQ(restarts_, 0);

  host->setText(" [fe80::1] ");
  port->setCurrentIndex(1);
  EXPECT_EQ(dialog->ChosenSettingsLine(), "tcp:[fe80::1]:8100");
  host->setText("tnc.local");
  dialog->findChild<QPushButton*>("Command1")->click();
  QTest::qWait(10);
  EXPECT_TRUE(dialog.isNull());
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), "tcp:tnc.local:8100\r\ntime.example\r\nLab\r\n");
  EXPECT_EQ(restarts_, 1);
}

}  // namespace
}  // namespace zevrin
