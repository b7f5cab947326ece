#include "ui/about_window.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPointer>

#include "link/version.h"
#include "ui/colours.h"
#include "ui/pictures.h"

namespace zevrin {

namespace {

constexpr int kWidth = 375;
constexpr int kHeight = 196;
constexpr int kLogRowY = 172;
constexpr int kMargin = 8;
constexpr int kPictureSize = 128;
constexpr int kTextWidth = kWidth - 3 * kMargin - kPictureSize;

// Invented contact rows: plain text, clicking them does nothing.
constexpr char kHomepage[] = "http://www.example.org/zevrin/";
constexpr char kMail[] = "groundstation@example.org";

QPointer<AboutWindow>& Current() {
  static QPointer<AboutWindow> window;
  return window;
}

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int width,
                 int height, const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFont(font);
  label->setGeometry(x, y, width, height);
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
  setFixedSize(kWidth, kHeight);
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

  AddLabel(this, "TitleLine", QString::fromLatin1(kProgramName), kMargin, kMargin,
           kWidth - 2 * kMargin, 22, title_font);
  AddLabel(this, "SecondLine", QStringLiteral("Telemetry decoder for the TARVELO downlink"),
           kMargin, 36, kTextWidth, 16, regular);
  AddLabel(this, "ThirdLine", QStringLiteral("KISS frames in, housekeeping out"), kMargin, 54,
           kTextWidth, 16, bold);

  auto* box = new QFrame(this);
  box->setObjectName(QStringLiteral("VersionBox"));
  box->setFrameShape(QFrame::Box);
  box->setFrameShadow(QFrame::Sunken);
  box->setGeometry(kMargin, 76, kTextWidth, 30);
  AddLabel(box, "VersionLine", QString::fromStdString(VersionLine()), 8, 6, kTextWidth - 16, 18,
           regular);

  AddLabel(this, "HomepageLabel", QStringLiteral("Homepage:"), kMargin, 118, 60, 16, regular);
  AddLabel(this, "MailLabel", QStringLiteral("e-mail:"), kMargin, 138, 60, 16, regular);
  QLabel* homepage = AddLabel(this, "Homepage", QString::fromLatin1(kHomepage), kMargin + 62, 118,
                              kTextWidth - 62, 16, link);
  QLabel* mail = AddLabel(this, "Mail", QString::fromLatin1(kMail), kMargin + 62, 138,
                          kTextWidth - 62, 16, link);
  for (QLabel* address : {homepage, mail}) {
    QPalette blue = address->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    address->setPalette(blue);
  }

  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("Picture"));
  picture->setPixmap(SatellitePicture(kPictureSize));
  picture->setGeometry(kWidth - kMargin - kPictureSize, 36, kPictureSize, kPictureSize);

  // Where this run's logs are: long folder names are shortened in the middle, in
  // full in the tool tip, and the text can be selected for copying.
  AddLabel(this, "LogFolderLabel", QStringLiteral("Logs:"), kMargin, kLogRowY, 60, 16, regular);
  QLabel* folder = AddLabel(this, "LogFolder", QString(), kMargin + 62, kLogRowY,
                            kWidth - 2 * kMargin - 62, 16, regular);
  folder->setTextFormat(Qt::PlainText);
  folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
  folder->setText(folder->fontMetrics().elidedText(log_folder, Qt::ElideMiddle, folder->width()));
  folder->setToolTip(log_folder);
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
