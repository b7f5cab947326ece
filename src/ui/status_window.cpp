#include "ui/status_window.h"

#include <QFont>
#include <QFontInfo>
#include <QPalette>

#include "ui/colours.h"
#include "ui/pictures.h"

namespace zevrin {

namespace {

constexpr int kMargin = 8;
constexpr int kPictureSize = 64;
constexpr int kLineHeight = 16;    // one text row
constexpr int kFirstLineTop = 74;  // below the picture

QColor ToQColor(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont DigitFont() {
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPointSizeF(15.75);
  font.setBold(true);
  return font;
}

}  // namespace

StatusWindowWidget::StatusWindowWidget(StatusWindow kind, const DisplayFields* fields,
                                       QWidget* parent)
    : QWidget(parent, Qt::Window), kind_(kind), fields_(fields), view_(RestingView(kind)) {
  const StatusWindowInfo& info = StatusWindowData(kind);
  setObjectName(QStringLiteral("StatusWindow_%1").arg(info.field));
  setWindowTitle(FromUtf8(info.caption));
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(info.client_width, info.client_height);

  QPalette grey = palette();
  grey.setColor(QPalette::Window, ToQColor(kWindowGrey));
  grey.setColor(QPalette::Base, ToQColor(kWindowGrey));
  setPalette(grey);
  setAutoFillBackground(true);

  const int text_width = info.client_width - 3 * kMargin - kPictureSize;

  auto* title = new QLabel(FromUtf8(info.title), this);
  title->setObjectName(QStringLiteral("Title"));
  QFont title_font(QStringLiteral("Sans Serif"));
  title_font.setStyleHint(QFont::SansSerif);
  title_font.setPointSize(12);
  title_font.setBold(true);
  title->setFont(title_font);
  QPalette blue = title->palette();
  blue.setColor(QPalette::WindowText, ToQColor(kTitleBlue));
  title->setPalette(blue);
  title->setGeometry(kMargin, kMargin, text_width, 24);

  digits_ = new QLineEdit(this);
  digits_->setObjectName(QStringLiteral("Digits"));
  digits_->setReadOnly(true);
  digits_->setFrame(false);
  digits_->setFocusPolicy(Qt::NoFocus);
  digits_->setFont(DigitFont());
  digits_->setGeometry(kMargin, kMargin + 28, 150, 30);

  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("Picture"));
  picture->setPixmap(SatellitePicture(kPictureSize));
  picture->setGeometry(info.client_width - kMargin - kPictureSize, kMargin / 2, kPictureSize,
                       kPictureSize);

  QFont line_font = font();
  line_font.setPointSizeF(8.25);
  for (int k = 0; k < info.line_count; ++k) {
    auto* line = new QLabel(this);
    line->setObjectName(QStringLiteral("Line%1").arg(k));
    line->setFont(line_font);
    line->setGeometry(kMargin, kFirstLineTop + k * kLineHeight, info.client_width - 2 * kMargin,
                      kLineHeight);
    lines_.push_back(line);
  }
  Show(view_);

  timer_.setInterval(kStatusTickMs);
  connect(&timer_, &QTimer::timeout, this, &StatusWindowWidget::Tick);
  timer_.start();
}

void StatusWindowWidget::Tick() {
  static const std::string kEmpty;
  const StatusWindowInfo& info = StatusWindowData(kind_);
  const std::string& text = fields_ ? fields_->Field(info.field) : kEmpty;
  const std::string& mode = fields_ ? fields_->Field(kAdcsModeField) : kEmpty;
  view_ = TickView(kind_, text, mode, view_);
  Show(view_);
}

QString StatusWindowWidget::TextBuilder(int line) const {
  if (line < 0 || line >= LineCount()) return {};
  return lines_[static_cast<std::size_t>(line)]->text();
}

void StatusWindowWidget::Show(const StatusView& view) {
  const QString digits = QString::fromStdString(view.digits);
  if (digits_->text() != digits) digits_->setText(digits);
  for (std::size_t k = 0; k < lines_.size() && k < view.lines.size(); ++k) {
    const QString line = QString::fromStdString(view.lines[k]);
    if (lines_[k]->text() != line) lines_[k]->setText(line);
  }
}

StatusWindows::StatusWindows(const DisplayFields* fields, QObject* parent)
    : QObject(parent), fields_(fields) {}

StatusWindows::~StatusWindows() { CloseAll(); }

StatusWindowWidget* StatusWindows::Open(StatusWindow kind) {
  QPointer<StatusWindowWidget>& slot = windows_[static_cast<std::size_t>(kind)];
  if (!slot) {
    slot = new StatusWindowWidget(kind, fields_);
    slot->show();
  } else {
    if (slot->isMinimized()) slot->showNormal();
    slot->raise();
  }
  slot->activateWindow();
  return slot;
}

StatusWindowWidget* StatusWindows::Window(StatusWindow kind) const {
  return windows_[static_cast<std::size_t>(kind)];
}

void StatusWindows::CloseAll() {
  for (auto& window : windows_) {
    // Deleted at once rather than closed, so no window outlives its store.
    delete window.data();
    window.clear();
  }
}

}  // namespace zevrin
