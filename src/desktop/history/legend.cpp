#include "history/legend.h"

#include <QChart>
#include <QGraphicsLayout>
#include <QGraphicsTextItem>
#include <QLegend>
#include <QStringList>
#include <QTextDocument>
#include <QTextOption>
#include <cmath>

namespace zevrin {

namespace {

// A short stroke in the line's colour before each name, dashed for reference lines.
constexpr char kSolidStroke[] = "\u2501\u2501";
constexpr char kDashedStroke[] = "\u254d\u254d";
// Between entries: a wide gap, and the only place where a row may break (the
// names hold no-break spaces). Kept whole by pre-wrap.
constexpr char kBetweenEntries[] = "\u2003\u2003 ";

}  // namespace

HistoryLegend::HistoryLegend(QChart* chart, int margin)
    : chart_(chart), text_(new QGraphicsTextItem(chart)), margin_(margin) {
  text_->setObjectName(QStringLiteral("HistoryLegend"));
  text_->setFont(chart->legend()->font());
  text_->setDefaultTextColor(chart->legend()->labelColor());
  text_->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
  text_->document()->setDocumentMargin(0);
  text_->setVisible(false);
}

void HistoryLegend::Show(const std::vector<LegendEntry>& entries) {
  QStringList parts;
  for (const LegendEntry& entry : entries) {
    QString name = entry.name.toHtmlEscaped();
    name.replace(QLatin1Char(' '), QChar::Nbsp);  // a name never breaks across rows
    parts << QStringLiteral("<span style=\"color:%1\">%2</span>&nbsp;%3")
                 .arg(entry.colour.name(),
                      QString::fromUtf8(entry.dashed ? kDashedStroke : kSolidStroke), name);
  }
  text_->setHtml(QStringLiteral("<div style=\"white-space:pre-wrap\">%1</div>")
                     .arg(parts.join(QString::fromUtf8(kBetweenEntries))));
  text_->setVisible(!entries.empty());
  Place();
}

void HistoryLegend::Place() {
  // The chart's background, inside its layout's margins.
  qreal left = 0, top = 0, right = 0, bottom = 0;
  if (chart_->layout() != nullptr)
    chart_->layout()->getContentsMargins(&left, &top, &right, &bottom);
  const QRectF area = chart_->rect().adjusted(left, top, -right, -bottom);
  const qreal width = area.width() - 2 * margin_;
  if (width <= 0) return;
  text_->setTextWidth(width);
  const qreal height = text_->isVisible() ? text_->boundingRect().height() : 0;
  text_->setPos(area.left() + margin_, area.bottom() - margin_ - height);
  // The plot ends a margin above the legend.
  const int room = margin_ + (height > 0 ? static_cast<int>(std::ceil(height)) + margin_ : 0);
  if (chart_->margins().bottom() != room) {
    chart_->setMargins(QMargins(margin_, margin_, margin_, room));
  }
}

}  // namespace zevrin
