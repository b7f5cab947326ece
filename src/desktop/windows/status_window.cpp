#include "windows/status_window.h"

#include <QFont>
#include <QFontInfo>
#include <QPalette>
#include <algorithm>

#include "base/colours.h"
#include "widgets/pictures.h"
#include "widgets/qt_text.h"
#include "widgets/text_fit.h"

namespace zevrin {

namespace {

constexpr int kMargin = 8;
constexpr int kPictureSize = 64;
constexpr int kLineHeight = 16;    // one text row
constexpr int kFirstLineTop = 74;  // below the picture
constexpr int kTitleLeastHeight = 24;
constexpr int kTitleGap = 4;  // between the title and the digits
constexpr int kDigitsLeastWidth = 150;
constexpr int kDigitsLeastHeight = 30;
constexpr int kDigitsGap = 6;  // between the digits and the first line
constexpr int kTitlePointSize = 12;
constexpr qreal kLinePointSize = 8.25;

QFont DigitFont() {
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPointSizeF(15.75);
  font.setBold(true);
  return font;
}

// Every text a line of `info` can show: resting captions, the texts for 0 and 1,
// and the nibble line with either suffix.
QStringList LineTexts(const StatusWindowInfo& info) {
  QStringList texts;
  for (int k = 0; k < info.line_count; ++k) {
    const auto i = static_cast<std::size_t>(k);
    texts << FromUtf8(info.resting[i]) << FromUtf8(info.bits[i].zero) << FromUtf8(info.bits[i].one);
  }
  for (const std::string_view suffix : {kNibbleGpsSuffix, kNibbleMagSuffix}) {
    texts << FromUtf8(kNibblePrefix) + QStringLiteral("0000") + FromUtf8(suffix);
  }
  return texts;
}

// The window's title in a bold sans serif, in the title blue.
QLabel* TitleLabel(const QString& text, QWidget* parent) {
  QLabel* title = PlainLabel(text, parent);
  title->setObjectName(QStringLiteral("Title"));
  QFont title_font(QStringLiteral("Sans Serif"));
  title_font.setStyleHint(QFont::SansSerif);
  title_font.setPointSize(kTitlePointSize);
  title_font.setBold(true);
  title->setFont(title_font);
  QPalette blue = title->palette();
  blue.setColor(QPalette::WindowText, ToQColor(kTitleBlue));
  title->setPalette(blue);
  return title;
}

// The status byte's eight binary digits: shown, never edited or focused.
QLineEdit* DigitField(QWidget* parent) {
  auto* digits = new QLineEdit(parent);
  digits->setObjectName(QStringLiteral("Digits"));
  digits->setReadOnly(true);
  digits->setFrame(false);
  digits->setFocusPolicy(Qt::NoFocus);
  digits->setFont(DigitFont());
  return digits;
}

}  // namespace

StatusWindowWidget::StatusWindowWidget(StatusWindow kind, const DisplayFields* fields,
                                       QWidget* parent)
    : QWidget(parent, Qt::Window), kind_(kind), fields_(fields), view_(RestingView(kind)) {
  const StatusWindowInfo& info = StatusWindowData(kind);
  setObjectName(QStringLiteral("StatusWindow_%1").arg(info.field));
  setWindowTitle(FromUtf8(info.caption));
  setAttribute(Qt::WA_DeleteOnClose);

  QPalette grey = palette();
  grey.setColor(QPalette::Window, ToQColor(kWindowGrey));
  grey.setColor(QPalette::Base, ToQColor(kWindowGrey));
  setPalette(grey);
  setAutoFillBackground(true);

  QLabel* title = TitleLabel(FromUtf8(info.title), this);
  digits_ = DigitField(this);
  QLabel* picture = PlainLabel(QString(), this);
  picture->setObjectName(QStringLiteral("Picture"));
  picture->setPixmap(SatellitePicture(kPictureSize));
  QFont line_font = font();
  line_font.setPointSizeF(kLinePointSize);
  for (int k = 0; k < info.line_count; ++k) {
    QLabel* line = PlainLabel(QString(), this);
    line->setObjectName(QStringLiteral("Line%1").arg(k));
    line->setFont(line_font);
    lines_.push_back(line);
  }
  Place(*title, *picture, line_font);
  Show(view_);

  timer_.setInterval(kStatusTickMs);
  connect(&timer_, &QTimer::timeout, this, &StatusWindowWidget::Tick);
  timer_.start();
}

// The client area of the table is the least size; the window grows so that the
// title, the eight digits and every line text show whole in the fonts at hand.
void StatusWindowWidget::Place(QLabel& title, QLabel& picture, const QFont& line_font) {
  const StatusWindowInfo& info = StatusWindowData(kind_);
  const QFontMetrics line_metrics(line_font);
  const int line_height = std::max(kLineHeight, line_metrics.height());
  const int line_width = LabelWidthFor(*lines_.front(), LineTexts(info));
  const int title_width = LabelWidthFor(title, {title.text()});
  const int title_height = std::max(kTitleLeastHeight, title.sizeHint().height());
  const int digits_width =
      LineEditWidthFor(*digits_, {QStringLiteral("00000000")}, kDigitsLeastWidth);
  const int digits_height = std::max(kDigitsLeastHeight, digits_->sizeHint().height());
  const int top_rows_width = std::max(title_width, digits_width) + 3 * kMargin + kPictureSize;
  const int first_line_top =
      std::max(kFirstLineTop, kMargin + title_height + kTitleGap + digits_height + kDigitsGap);
  const int width = std::max({info.client_width, top_rows_width, line_width + 2 * kMargin});
  const int height =
      std::max(info.client_height, first_line_top + info.line_count * line_height + kMargin);
  setFixedSize(width, height);

  title.setGeometry(kMargin, kMargin, width - 3 * kMargin - kPictureSize, title_height);
  digits_->setGeometry(kMargin, kMargin + title_height + kTitleGap, digits_width, digits_height);
  picture.setGeometry(width - kMargin - kPictureSize, kMargin / 2, kPictureSize, kPictureSize);
  for (int k = 0; k < info.line_count; ++k) {
    lines_[static_cast<std::size_t>(k)]->setGeometry(kMargin, first_line_top + k * line_height,
                                                     width - 2 * kMargin, line_height);
  }
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
  const QString digits = FromUtf8(view.digits);
  if (digits_->text() != digits) digits_->setText(digits);
  for (std::size_t k = 0; k < lines_.size() && k < view.lines.size(); ++k) {
    const QString line = FromUtf8(view.lines[k]);
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
