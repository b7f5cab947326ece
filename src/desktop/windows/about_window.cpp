#include "windows/about_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QVBoxLayout>

#include "base/colours.h"
#include "base/version.h"
#include "widgets/pictures.h"
#include "widgets/text_fit.h"

namespace zevrin {

namespace {

// The least client area; the window grows when its texts need more room.
constexpr int kWidth = 375;
constexpr int kHeight = 175;
// Wider log folders are shortened in the middle.
constexpr int kLogFolderMaxWidth = 400;
constexpr int kMargin = 8;
constexpr int kPictureSize = 128;

// Invented contact rows: plain text, clicking them does nothing.
constexpr char kHomepage[] = "http://www.example.org/zevrin/";
constexpr char kMail[] = "groundstation@example.org";

QPointer<AboutWindow>& Current() {
  static QPointer<AboutWindow> window;
  return window;
}

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, const QFont& font) {
  QLabel* label = PlainLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(font);
  return label;
}

}  // namespace

std::string VersionLine() {
  std::string line = "Version ";
  line += kVersion;
  line += "    (";
  line += kReleaseDate;
  line += ")";
  return line;
}

AboutWindow::AboutWindow(const QString& log_folder, QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("About"));
  setWindowTitle(QStringLiteral("About"));
  setAttribute(Qt::WA_DeleteOnClose);
  QPalette grey = palette();
  grey.setColor(QPalette::Window, QColor(kWindowGrey.r, kWindowGrey.g, kWindowGrey.b));
  setPalette(grey);
  setAutoFillBackground(true);

  QFont title_font(QStringLiteral("Sans Serif"));
  title_font.setStyleHint(QFont::SansSerif);
  title_font.setPointSize(12);
  title_font.setBold(true);
  QFont regular = font();
  regular.setPointSizeF(8.25);
  QFont bold = regular;
  bold.setBold(true);
  QFont link = regular;
  link.setUnderline(true);

  // Laid out rather than placed, so every text shows whole in the fonts at hand.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(4);
  layout->addWidget(AddLabel(this, "TitleLine", QString::fromLatin1(kProgramName), title_font));

  auto* body = new QHBoxLayout;
  body->setSpacing(kMargin);
  auto* rows = new QVBoxLayout;
  rows->setSpacing(4);
  rows->addWidget(AddLabel(this, "SecondLine",
                           QStringLiteral("Telemetry decoder for the TARVELO downlink"), regular));
  rows->addWidget(
      AddLabel(this, "ThirdLine", QStringLiteral("KISS frames in, housekeeping out"), bold));

  auto* box = new QFrame(this);
  box->setObjectName(QStringLiteral("VersionBox"));
  box->setFrameShape(QFrame::Box);
  box->setFrameShadow(QFrame::Sunken);
  auto* box_layout = new QVBoxLayout(box);
  box_layout->setContentsMargins(8, 6, 8, 6);
  box_layout->addWidget(
      AddLabel(box, "VersionLine", QString::fromStdString(VersionLine()), regular));
  rows->addWidget(box);

  auto* contacts = new QGridLayout;
  contacts->setHorizontalSpacing(6);
  contacts->setVerticalSpacing(4);
  contacts->addWidget(AddLabel(this, "HomepageLabel", QStringLiteral("Homepage:"), regular), 0, 0);
  contacts->addWidget(AddLabel(this, "MailLabel", QStringLiteral("e-mail:"), regular), 1, 0);
  QLabel* homepage = AddLabel(this, "Homepage", QString::fromLatin1(kHomepage), link);
  QLabel* mail = AddLabel(this, "Mail", QString::fromLatin1(kMail), link);
  for (QLabel* address : {homepage, mail}) {
    QPalette blue = address->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    address->setPalette(blue);
  }
  contacts->addWidget(homepage, 0, 1);
  contacts->addWidget(mail, 1, 1);
  contacts->setColumnStretch(1, 1);
  rows->addLayout(contacts);
  rows->addStretch(1);
  body->addLayout(rows, 1);

  QLabel* picture = PlainLabel(QString(), this);
  picture->setObjectName(QStringLiteral("Picture"));
  picture->setPixmap(SatellitePicture(kPictureSize));
  picture->setFixedSize(kPictureSize, kPictureSize);
  body->addWidget(picture, 0, Qt::AlignTop);
  layout->addLayout(body, 1);

  // Where this run's logs are, below the rest: a long folder name is shortened in
  // the middle, in full in the tool tip, and the text can be selected for copying.
  auto* logs = new QHBoxLayout;
  logs->setSpacing(6);
  logs->addWidget(AddLabel(this, "LogFolderLabel", QStringLiteral("Logs:"), regular));
  QLabel* folder = AddLabel(this, "LogFolder", QString(), regular);
  folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
  folder->setText(
      folder->fontMetrics().elidedText(log_folder, Qt::ElideMiddle, kLogFolderMaxWidth));
  folder->setToolTip(log_folder);
  logs->addWidget(folder, 1);
  layout->addLayout(logs);

  setFixedSize(sizeHint().expandedTo(QSize(kWidth, kHeight)));
}

AboutWindow* OpenAboutWindow(const QString& log_folder) {
  QPointer<AboutWindow>& window = Current();
  if (!window) {
    window = new AboutWindow(log_folder);
    window->show();
  } else {
    if (window->isMinimized()) window->showNormal();
    window->raise();
  }
  window->activateWindow();
  return window;
}

AboutWindow* CurrentAboutWindow() { return Current(); }

}  // namespace zevrin
