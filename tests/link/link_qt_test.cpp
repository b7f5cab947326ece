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

#include "adapters/qt_serial_port.h"
#include "dialogs/setup_dialog.h"
#include "link/pty.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

namespace fs = std::filesystem;
using testing::Child;

// A link to no device, a file that is none, and odd line settings do not open; the
// link's device is named. When no link is found, /dev/ttyS(N-1) is taken.
TEST(QtSerialPortTest, OnlyLinksToDevicesAndGoodLineSettingsOpen) {
  testing::TempDir work{"serial-work"};
  testing::Pty pty;
  ASSERT_TRUE(pty.ok());
  fs::create_symlink(pty.slave_path(), work / "com1");
  work.Write("com3", "not a device");
  fs::create_symlink(work / "nowhere", work / "com4");
  EXPECT_EQ(SerialDevicePath(6, work.string()), "/dev/ttyS5");
  QtSerialPort port{{work.string()}};
  const std::pair<int, const char*> cases[] = {
      {3, "9600,N,8,1"}, {4, "9600,N,8,1"}, {1, "9600,Q,8,1"}, {1, "9600,N,8,1"}};
  for (const auto& [number, settings] : cases) {
    port.SetPortNumber(static_cast<std::int16_t>(number));
    port.SetSettings(settings);
    port.Open();
    EXPECT_EQ(port.IsOpen(), settings[5] == 'N' && number == 1) << number << " " << settings;
  }
  EXPECT_EQ(port.device(), pty.slave_path());
  for (const char* bad : {"9600,N,8", "9600,N,8,1,1", "0,N,8,1", "96OO,N,8,1", "9600,N,8,3"})
    EXPECT_FALSE(ParseQtLineSettings(bad).has_value()) << bad;
  EXPECT_EQ(ParseQtLineSettings("14400,e,7,2")->parity, QSerialPort::EvenParity);
}

class SetupDialogTest : public ::testing::Test {
 protected:
  // Opens the dialog; it deletes itself when it closes, and the pointer notices.
  QPointer<SetupDialog> Open() {
    QPointer<SetupDialog> dialog = new SetupDialog(values_);
    dialog->show();
    QObject::connect(dialog.data(), &SetupDialog::RestartRequested, [this] { ++restarts_; });
    return dialog;
  }
  // Clicks "Command1" (ok) or "Command2" (cancel).
  static void Click(SetupDialog* dialog, const char* button) {
    QTest::mouseClick(dialog->findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
    QTest::qWait(10);
  }

  testing::TempDir dir_{"setup"};
  SetupValues values_{17, "14400,M,5,1.5", "time.example", "Lab", dir_.Path("zevrinkiss.ini"), {}};
  int restarts_ = 0;
};

// Settings missing from the lists are added and selected, so "ok" keeps them.
TEST_F(SetupDialogTest, CancelLeavesTheFileByteForByteAndOkWritesTheSettingsInForce) {
  const std::string original("03,19200,n,8,1\n\nLab \xE9\r", 22);
  dir_.Write("zevrinkiss.ini", original);
  QPointer<SetupDialog> dialog = Open();
  Click(dialog, "Command2");
  EXPECT_TRUE(dialog.isNull());
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), original);
  EXPECT_EQ(restarts_, 0);
  Click(Open(), "Command1");
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), "17,14400,M,5,1.5\r\ntime.example\r\nLab\r\n");
  EXPECT_EQ(restarts_, 1);
}

TEST_F(SetupDialogTest, AFileThatCannotBeWrittenIsReportedAndTheDialogStays) {
  values_.settings_file = (dir_ / "no-such-dir" / "zevrinkiss.ini").string();
  QPointer<SetupDialog> dialog = Open();
  Click(dialog, "Command1");
  ASSERT_TRUE(!dialog.isNull() && dialog->isVisible() && restarts_ == 0);  // for another try
  auto* box = Child<QMessageBox>(dialog, "SettingsWriteError");
  ASSERT_TRUE(box != nullptr && box->isVisible());
  EXPECT_TRUE(box->text().contains(QString::fromStdString(values_.settings_file)) &&
              box->text().contains("No such file or directory"));
  delete dialog;
}

// Choosing KISS over TCP: a host or port that make no address is refused with a
// message and nothing is written; a good one is written in the form line 1 takes (an
// IPv6 address in brackets), and the dialog opens on it the next time.
TEST_F(SetupDialogTest, TcpIsWrittenBackOrABadAddressRefusedAndShownWhenInForce) {
  QPointer<SetupDialog> dialog = Open();
  auto* host = Child<QLineEdit>(dialog, "TcpHost");
  auto* port = Child<QComboBox>(dialog, "TcpPort");
  Child<QRadioButton>(dialog, "TcpChoice")->click();
  EXPECT_TRUE(host->isEnabled() && !Child<QComboBox>(dialog, "SpeedList")->isEnabled());
  ASSERT_EQ(port->findText("8100"), 1);  // after 8001: the two common ports
  const std::pair<const char*, const char*> bad[] = {{"two words", "8001"}, {"localhost", "0"}};
  for (const auto& [h, p] : bad) {
    host->setText(QString::fromLatin1(h));
    port->setEditText(QString::fromLatin1(p));
    Child<QPushButton>(dialog, "Command1")->click();
    EXPECT_EQ(dialog->findChildren<QMessageBox*>("TcpAddressError").size(), 1u) << h << " " << p;
    qDeleteAll(dialog->findChildren<QMessageBox*>("TcpAddressError"));
  }
  EXPECT_FALSE(fs::exists(dir_ / "zevrinkiss.ini"));
  host->setText(" [::1] ");
  port->setCurrentIndex(1);
  Click(dialog, "Command1");
  EXPECT_TRUE(dialog.isNull());
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), "tcp:[::1]:8100\r\ntime.example\r\nLab\r\n");
  EXPECT_EQ(restarts_, 1);

  values_.tcp = TcpAddress{"::1", 8100};
  dialog = Open();
  EXPECT_TRUE(Child<QRadioButton>(dialog, "TcpChoice")->isChecked());
  EXPECT_EQ(Child<QLineEdit>(dialog, "TcpHost")->text() + " " +
                Child<QComboBox>(dialog, "TcpPort")->currentText(),
            "::1 8100");
  delete dialog;
}

}  // namespace
}  // namespace zevrin
