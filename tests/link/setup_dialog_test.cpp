#include "link/setup_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "support/temp_dir.h"

namespace zevrin {
namespace {

// Restarting on the new port after "ok" is checked with the whole main window.
class SetupDialogTest : public ::testing::Test {
 protected:
  // The dialog deletes itself when closed; QPointer notices.
  QPointer<SetupDialog> Open() {
    QPointer<SetupDialog> dialog = new SetupDialog(values_);
    dialog->show();
    return dialog;
  }

  testing::TempDir dir_{"setup"};
  SetupValues values_{17, "14400,M,5,1.5", "time.example", "Lab",
                      (dir_ / "zevrinkiss.ini").string()};
};

// Settings missing from the lists are added and selected, so "ok" keeps them.
TEST_F(SetupDialogTest, OkWithoutChangesWritesTheSettingsInForce) {
  QTest::mouseClick(Open()->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), "17,14400,M,5,1.5\r\ntime.example\r\nLab\r\n");
}

TEST_F(SetupDialogTest, CancelLeavesTheFileByteForByte) {
  const std::string original("03,19200,n,8,1\n\nLab \xE9\r", 22);
  dir_.Write("zevrinkiss.ini", original);
  QPointer<SetupDialog> d = Open();
  QSignalSpy restart(d.data(), &SetupDialog::RestartRequested);
  d->findChild<QComboBox*>(QStringLiteral("PortList"))->setCurrentIndex(11);  // COM12
  QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("Command2")), Qt::LeftButton);
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), original);
  EXPECT_EQ(restart.count(), 0);
  QTest::qWait(10);
  EXPECT_TRUE(d.isNull());
}

TEST_F(SetupDialogTest, AFileThatCannotBeWrittenIsReportedAndTheDialogStays) {
  values_.settings_file = (dir_ / "no-such-dir" / "zevrinkiss.ini").string();
  QPointer<SetupDialog> d = Open();
  QSignalSpy restart(d.data(), &SetupDialog::RestartRequested);
  QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
  EXPECT_EQ(restart.count(), 0);
  auto* box = d->findChild<QMessageBox*>("SettingsWriteError");
  ASSERT_TRUE(box != nullptr && box->isVisible());
  EXPECT_TRUE(box->text().contains(QString::fromStdString(values_.settings_file)));
  EXPECT_TRUE(box->text().contains("No such file or directory"));
  QTest::qWait(10);
  ASSERT_TRUE(!d.isNull() && d->isVisible());  // for another try
  delete d;
}

}  // namespace
}  // namespace zevrin
