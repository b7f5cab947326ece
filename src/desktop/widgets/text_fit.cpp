#include "widgets/text_fit.h"

#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

namespace zevrin {

namespace {

// QLineEdit keeps this many pixels free on either side of its text, inside its
// contents rectangle.
constexpr int kLineEditTextMargin = 2;
// The widest a line edit is ever made; ends the search for a width.
constexpr int kWidestLineEdit = 4000;

}  // namespace

int WidestText(const QFont& font, const QStringList& texts) {
  const QFontMetrics metrics(font);
  int widest = 0;
  for (const QString& text : texts) widest = std::max(widest, metrics.horizontalAdvance(text));
  return widest;
}

bool LineEditShowsWhole(const QLineEdit& edit, const QString& text, int width) {
  QStyleOptionFrame option;
  option.initFrom(&edit);
  option.rect = QRect(0, 0, width, edit.height() > 0 ? edit.height() : edit.sizeHint().height());
  option.lineWidth =
      edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit) : 0;
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  option.features = QStyleOptionFrame::None;
  const QRect contents = edit.style()
                             ->subElementRect(QStyle::SE_LineEditContents, &option, &edit)
                             .marginsRemoved(edit.textMargins());
  const QFontMetrics metrics(edit.font());
  // The text, the cursor's pixel, and the bearings that may stick out at its ends.
  const int needed = metrics.horizontalAdvance(text) + 1 + std::max(0, -metrics.minLeftBearing()) +
                     std::max(0, -metrics.minRightBearing());
  return needed <= contents.width() - 2 * kLineEditTextMargin;
}

int LineEditWidthFor(const QLineEdit& edit, const QStringList& texts, int least) {
  int width = std::max(least, 1);
  for (const QString& text : texts) {
    while (width < kWidestLineEdit && !LineEditShowsWhole(edit, text, width)) ++width;
  }
  return width;
}

int LabelWidthFor(const QLabel& label, const QStringList& texts, int least) {
  // A stand-in with the same look measures each text as the label itself would.
  QLabel probe;
  probe.setFont(label.font());
  probe.setFrameStyle(label.frameStyle());
  probe.setLineWidth(label.lineWidth());
  probe.setMargin(label.margin());
  probe.setIndent(label.indent());
  probe.setContentsMargins(label.contentsMargins());
  probe.setTextFormat(Qt::PlainText);
  int width = least;
  for (const QString& text : texts) {
    probe.setText(text);
    width = std::max(width, probe.sizeHint().width());
  }
  return width;
}

QLabel* PlainLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  return label;
}

}  // namespace zevrin
