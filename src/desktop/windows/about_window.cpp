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
#include "widgets/qt_text.h"
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
constexpr int kRowSpacing = 4;
constexpr int kTitlePointSize = 12;
constexpr qreal kTextPointSize = 8.25;
constexpr Rgb kLinkBlue{0, 0, 255};

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

struct AboutFonts {
  QFont title;
  QFont regular;
  QFont bold;
  QFont link;
};

// The title in a bold sans serif; the rest in the window's font at 8.25 points,
// the third line bold and the contact addresses underlined.
AboutFonts MakeFonts(const QFont& window_font) {
  AboutFonts fonts;
  fonts.title = QFont(QStringLiteral("Sans Serif"));
  fonts.title.setStyleHint(QFont::SansSerif);
  fonts.title.setPointSize(kTitlePointSize);
  fonts.title.setBold(true);
  fonts.regular = window_font;
  fonts.regular.setPointSizeF(kTextPointSize);
  fonts.bold = fonts.regular;
  fonts.bold.setBold(true);
  fonts.link = fonts.regular;
  fonts.link.setUnderline(true);
  return fonts;
}

// The version line in a sunken box.
QFrame* BuildVersionBox(QWidget* window, const QFont& font) {
  auto* box = new QFrame(window);
  box->setObjectName(QStringLiteral("VersionBox"));
  box->setFrameShape(QFrame::Box);
  box->setFrameShadow(QFrame::Sunken);
  auto* box_layout = new QVBoxLayout(box);
  box_layout->setContentsMargins(8, 6, 8, 6);
  box_layout->addWidget(AddLabel(box, "VersionLine", FromUtf8(VersionLine()), font));
  return box;
}

// The homepage and e-mail rows, their addresses in blue like links.
QGridLayout* BuildContacts(QWidget* window, const AboutFonts& fonts) {
  auto* contacts = new QGridLayout;
  contacts->setHorizontalSpacing(6);
  contacts->setVerticalSpacing(kRowSpacing);
  contacts->addWidget(AddLabel(window, "HomepageLabel", QStringLiteral("Homepage:"), fonts.regular),
                      0, 0);
  contacts->addWidget(AddLabel(window, "MailLabel", QStringLiteral("e-mail:"), fonts.regular), 1,
                      0);
  QLabel* homepage = AddLabel(window, "Homepage", QString::fromLatin1(kHomepage), fonts.link);
  QLabel* mail = AddLabel(window, "Mail", QString::fromLatin1(kMail), fonts.link);
  for (QLabel* address : {homepage, mail}) {
    QPalette blue = address->palette();
    blue.setColor(QPalette::WindowText, ToQColor(kLinkBlue));
    address->setPalette(blue);
  }
  contacts->addWidget(homepage, 0, 1);
  contacts->addWidget(mail, 1, 1);
  contacts->setColumnStretch(1, 1);
  return contacts;
}

// The text rows at the left, the satellite at the top right.
QHBoxLayout* BuildBody(QWidget* window, const AboutFonts& fonts) {
  auto* body = new QHBoxLayout;
  body->setSpacing(kMargin);
  auto* rows = new QVBoxLayout;
  rows->setSpacing(kRowSpacing);
  rows->addWidget(AddLabel(window, "SecondLine",
                           QStringLiteral("Telemetry decoder for the TARVELO downlink"),
                           fonts.regular));
  rows->addWidget(AddLabel(window, "ThirdLine", QStringLiteral("KISS frames in, housekeeping out"),
                           fonts.bold));
  rows->addWidget(BuildVersionBox(window, fonts.regular));
  rows->addLayout(BuildContacts(window, fonts));
  rows->addStretch(1);
  body->addLayout(rows, 1);

  QLabel* picture = PlainLabel(QString(), window);
  picture->setObjectName(QStringLiteral("Picture"));
  picture->setPixmap(SatellitePicture(kPictureSize));
  picture->setFixedSize(kPictureSize, kPictureSize);
  body->addWidget(picture, 0, Qt::AlignTop);
  return body;
}

// Where this run's logs are, below the rest: a long folder name is shortened in
// the middle, in full in the tool tip, and the text can be selected for copying.
QHBoxLayout* BuildLogLine(QWidget* window, const QString& log_folder, const QFont& font) {
  auto* logs = new QHBoxLayout;
  logs->setSpacing(6);
  logs->addWidget(AddLabel(window, "LogFolderLabel", QStringLiteral("Logs:"), font));
  QLabel* folder = AddLabel(window, "LogFolder", QString(), font);
  folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
  folder->setText(
      folder->fontMetrics().elidedText(log_folder, Qt::ElideMiddle, kLogFolderMaxWidth));
  folder->setToolTip(log_folder);
  logs->addWidget(folder, 1);
  return logs;
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
  grey.setColor(QPalette::Window, ToQColor(kWindowGrey));
  setPalette(grey);
  setAutoFillBackground(true);
  const AboutFonts fonts = MakeFonts(font());

  // Laid out rather than placed, so every text shows whole in the fonts at hand.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  layout->setSpacing(kRowSpacing);
  layout->addWidget(AddLabel(this, "TitleLine", QString::fromLatin1(kProgramName), fonts.title));
  layout->addLayout(BuildBody(this, fonts), 1);
  layout->addLayout(BuildLogLine(this, log_folder, fonts.regular));
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
