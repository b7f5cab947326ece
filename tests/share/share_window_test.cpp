// The desktop program's "Share Telemetry..." dialog, offscreen. The program's sharing
// as a whole is ShareAppTest's; the status line's text is the core's.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTest>

#include "dialogs/share_dialog.h"
#include "support/qt_wait.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Child;

// Why nothing is shared follows the fields as they are typed; which gap is named
// when is the settings' own test. What the file's reader left out is said first.
TEST(ShareDialogTest, SaysWhyNothingIsSharedUntilCompleteAndWritesAPrivateFile) {
  testing::TempDir dir("share-dialog");
  const std::string path = dir.Path("zevrinkiss-share.ini");
  const ShareSettings off;  // as a first start finds them
  auto* dialog = new ShareDialog(off, path, nullptr, {"The 17th server was left out."});
  QSignalSpy saved(dialog, &ShareDialog::Saved);
  dialog->show();
  EXPECT_THAT(Child<QLabel>(dialog, "ShareLeftOut")->text().toStdString(),
              ::testing::HasSubstr("read: The 17th server was left out. OK writes"));
  QLabel* reason = Child<QLabel>(dialog, "ShareReason");
  EXPECT_EQ(reason->text(), "Nothing is shared: not turned on");
  Child<QCheckBox>(dialog, "ShareEnabled")->setChecked(true);
  Child<QLineEdit>(dialog, "ShareCallsign")->setText("dl1abc");
  Child<QLineEdit>(dialog, "ShareLatitude")->setText("49.73145");
  Child<QLineEdit>(dialog, "ShareLongitude")->setText("-8.95564");
  EXPECT_THAT(reason->text().toStdString(), ::testing::HasSubstr("NORAD"));
  Child<QLineEdit>(dialog, "ShareNorad")->setText("99999");
  EXPECT_EQ(reason->text(), "The satellite's frames are shared.");

  QTest::mouseClick(Child<QPushButton>(dialog, "ShareAddServer"), Qt::LeftButton);
  auto* servers = Child<QTableWidget>(dialog, "ShareServers");
  servers->item(1, 0)->setText("https://telemetry.example.org/sids");
  servers->item(1, 1)->setText("t0ken");
  const QModelIndex token = servers->model()->index(1, 1);  // shown as bullets only
  EXPECT_EQ(static_cast<QStyledItemDelegate*>(servers->itemDelegateForIndex(token))
                ->displayText(token.data(), {}),
            QString(5, QChar(0x2022)));
  dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();

  ASSERT_EQ(saved.count(), 1);
  const std::optional<ShareSettings> written = ReadShareSettings(path);
  ASSERT_TRUE(written);
  EXPECT_EQ(SharingOffReason(*written), std::nullopt);
  EXPECT_EQ(written->station.callsign, "DL1ABC");  // upper case, as servers expect
  EXPECT_EQ(written->station.longitude, -8.95564);
  ASSERT_EQ(written->servers.size(), 2u);
  EXPECT_EQ(written->servers[1], (ShareServer{"https://telemetry.example.org/sids", "t0ken"}));
  struct stat info {};
  EXPECT_TRUE(::stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600) << "holds tokens";
}

}  // namespace
}  // namespace zevrin
