#include "link/setup_dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <string>

#include "support/temp_dir.h"

namespace zevrin {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

class SetupDialogTest : public ::testing::Test {
 protected:
  // The dialog deletes itself when closed; QPointer notices.
  QPointer<SetupDialog> Open() {
    QPointer<SetupDialog> dialog = new SetupDialog(values_);
    dialog->show();
    return dialog;
  }
  static QComboBox* List(SetupDialog* d, const char* name) {
    return d->findChild<QComboBox*>(QString::fromLatin1(name));
  }
  // The current entries of the five lists, each followed by a blank.
  static std::string Shown(SetupDialog* d) {
    std::string text;
    for (const char* name : {"PortList", "SpeedList", "DataList", "ParityList", "StopList"})
      text += List(d, name)->currentText().toStdString() + " ";
    return text;
  }
  static void Click(SetupDialog* d, const char* name) {
    QPushButton* button = d->findChild<QPushButton*>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }

  testing::TempDir dir_{"setup"};
  SetupValues values_{5, "4800,N,8,1", "time.example", "Lab", (dir_ / "zevrinkiss.ini").string()};
};

TEST_F(SetupDialogTest, OpensWithTheSettingsInForceSoOkWithoutChangesKeepsThem) {
  QPointer<SetupDialog> d = Open();
  EXPECT_EQ(Shown(d), "COM05 4800 8 N 1 ");
  Click(d, "Command1");
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), "05,4800,N,8,1\r\ntime.example\r\nLab\r\n");
}

TEST_F(SetupDialogTest, ValuesOutsideTheListsAreAddedAndKept) {
  values_.port_number = 17;
  values_.line_settings = "14400,M,5,1.5";
  QPointer<SetupDialog> d = Open();
  EXPECT_EQ(List(d, "PortList")->count(), 17);
  EXPECT_EQ(Shown(d), "COM17 14400 5 M 1.5 ");
  delete d;

  values_.line_settings = "";  // nothing the port could report: the usual choices
  d = Open();
  EXPECT_EQ(d->ChosenSettingsLine(), "17,9600,N,8,1");
  delete d;
}

TEST_F(SetupDialogTest, CancelLeavesTheFileByteForByte) {
  const std::string original("03,19200,n,8,1\n\nLab \xE9\r", 22);
  dir_.Write("zevrinkiss.ini", original);
  QPointer<SetupDialog> d = Open();
  QSignalSpy restart(d.data(), &SetupDialog::RestartRequested);
  List(d, "PortList")->setCurrentIndex(11);  // COM12
  Click(d, "Command2");
  EXPECT_EQ(dir_.Contents("zevrinkiss.ini"), original);
  EXPECT_EQ(restart.count(), 0);
  QTest::qWait(10);
  EXPECT_TRUE(d.isNull());
}

TEST_F(SetupDialogTest, AFileThatCannotBeWrittenIsReportedAndNothingRestarts) {
  values_.settings_file = (dir_ / "no-such-dir" / "zevrinkiss.ini").string();
  QPointer<SetupDialog> d = Open();
  QSignalSpy restart(d.data(), &SetupDialog::RestartRequested);
  QSignalSpy failed(d.data(), &SetupDialog::WriteFailed);
  Click(d, "Command1");
  EXPECT_EQ(restart.count(), 0);
  ASSERT_EQ(failed.count(), 1);
  auto* box = d->findChild<QMessageBox*>("SettingsWriteError");
  ASSERT_TRUE(box != nullptr && box->isVisible());
  EXPECT_THAT(box->text().toStdString(),
              AllOf(HasSubstr(values_.settings_file), HasSubstr("No such file or directory")));
  EXPECT_EQ(failed.at(0).at(0).toString(), box->text());
  QTest::qWait(10);
  ASSERT_TRUE(!d.isNull() && d->isVisible());  // the dialog stays for another try
  delete d;
}

}  // namespace
}  // namespace zevrin
