#include "widgets/monitor_pane.h"

#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <cmath>

#include "base/colours.h"
#include "widgets/qt_text.h"

namespace zevrin {

namespace {

constexpr ColourRole kRoles[] = {ColourRole::kSeparator, ColourRole::kSummary, ColourRole::kControl,
                                 ColourRole::kAddress, ColourRole::kDump};

// QPlainTextEdit's document margin: left of every line, above the first and below
// the last.
constexpr qreal kMargin = 4;

// Lays out `layout` as QPlainTextDocumentLayout lays out a block that does not
// wrap; returns the height of its line.
qreal LayOut(QTextLayout& layout) {
  layout.beginLayout();
  QTextLine line = layout.createLine();
  line.setLeadingIncluded(true);
  line.setLineWidth(qreal(INT_MAX) - 2 * kMargin);
  line.setPosition(QPointF(kMargin, 0));
  layout.endLayout();
  return line.height() + (line.leading() < 0 ? std::ceil(line.leading()) : 0);
}

bool IsPrintableAscii(const QString& text) {
  return std::all_of(text.begin(), text.end(),
                     [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
}

}  // namespace

MonitorPane::MonitorPane(QWidget* parent) : QAbstractScrollArea(parent) {
  // Selecting and copying stay possible; nothing the user does moves where the
  // texts go.
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  horizontalScrollBar()->setSingleStep(20);
  verticalScrollBar()->setSingleStep(1);
  text_option_.setWrapMode(QTextOption::NoWrap);

  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPointSizeF(9);
  if (!QFontInfo(font).fixedPitch()) {
    const qreal size = font.pointSizeF();
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(size);
  }
  setFont(font);
  Measure();

  for (const ColourRole role : kRoles) {
    QTextCharFormat format;
    format.setForeground(ToQColor(MonitorColour(role)));
    formats_[static_cast<std::size_t>(role)] = format;
  }
}

void MonitorPane::AppendMonitorText(std::string_view text, ColourRole role) {
  if (text.empty()) return;
  if (pending_.empty() || pending_.back().role != role) pending_.push_back({role, QString()});
  pending_.back().text.append(QLatin1String(text.data(), static_cast<qsizetype>(text.size())));
  if (write_due_) return;
  write_due_ = true;
  QMetaObject::invokeMethod(this, &MonitorPane::WritePending, Qt::QueuedConnection);
}

// The texts of a turn go in together and the view moves once.
void MonitorPane::WritePending() {
  write_due_ = false;
  if (pending_.empty()) return;
  QScrollBar* bar = verticalScrollBar();
  const bool at_bottom = bar->value() >= bar->maximum();
  const int scrolled_to = bar->value();
  const std::int64_t first_before = lines_.FirstSerial();
  const std::int64_t changed = first_before + std::max(lines_.Count() - 1, 0);

  // As the cursor of a text document, a selection's end at the end of the text
  // moves on with the texts written there.
  const MonitorPlace end = lines_.End();
  const bool anchor_at_end = lines_.Clamp(anchor_) == end;
  const bool cursor_at_end = lines_.Clamp(cursor_) == end;
  for (const Run& run : pending_) lines_.Append(run.text, run.role);
  pending_.clear();
  if (anchor_at_end) anchor_ = lines_.End();
  if (cursor_at_end) cursor_ = lines_.End();
  MeasureFrom(changed);
  UpdateScrollBars();

  if (at_bottom) {
    bar->setValue(bar->maximum());
  } else {
    // Lines dropped from the top would otherwise pull the user's view downwards.
    const auto dropped = static_cast<int>(lines_.FirstSerial() - first_before);
    if (dropped > 0) bar->setValue(scrolled_to - dropped);
  }
  viewport()->update();
}

void MonitorPane::Clear() {
  lines_.Clear();
  laid_out_.clear();
  pending_.clear();
  widest_ = 0;
  anchor_ = cursor_ = {};
  UpdateScrollBars();
  viewport()->update();
}

int MonitorPane::LineCount() const { return lines_.Count(); }

QString MonitorPane::PlainText() const { return lines_.Text({}, lines_.End()); }

QColor MonitorPane::ColourAt(int line, int column) const {
  return ToQColor(MonitorColour(lines_.RoleAt(line, column)));
}

void MonitorPane::Measure() {
  QTextLayout probe(QString(), font(), viewport());
  probe.setTextOption(text_option_);
  line_height_ = std::max<qreal>(1, LayOut(probe));
  char_width_ = NaturalWidth(QString(10, u'0')) / 10;
  for (char16_t c = 0x20; c < 0x7f; ++c)
    overhang_[c - 0x20] = NaturalWidth(QString(QChar(c))) - char_width_;
  for (int i = 0; i < lines_.Count(); ++i) lines_.At(i).layout.reset();
  laid_out_.clear();
  widest_ = 0;
  MeasureFrom(lines_.FirstSerial());
}

// A fixed-pitch font gives every printable ASCII character the same advance, and
// a line's natural width is that of its characters and the overhang of its last;
// other lines are laid out to be measured.
void MonitorPane::MeasureFrom(std::int64_t from) {
  for (auto i = static_cast<int>(std::max<std::int64_t>(from - lines_.FirstSerial(), 0));
       i < lines_.Count(); ++i) {
    const QString& text = lines_.At(i).text;
    if (text.isEmpty()) continue;
    widest_ =
        std::max(widest_, IsPrintableAscii(text) ? char_width_ * static_cast<qreal>(text.size()) +
                                                       overhang_[text.back().unicode() - 0x20]
                                                 : NaturalWidth(text));
  }
}

qreal MonitorPane::NaturalWidth(const QString& text) const {
  QTextLayout layout(text, font(), viewport());
  layout.setTextOption(text_option_);
  LayOut(layout);
  return layout.lineAt(0).naturalTextWidth();
}

// As QPlainTextEdit: the bar counts lines, and its end shows the last line whole
// above the bottom margin.
void MonitorPane::UpdateScrollBars() {
  const int count = lines_.Count();
  const int height = viewport()->height();
  int fit = 0;
  int last_top = 0;
  if (isVisible()) {
    fit = std::clamp(static_cast<int>(std::floor((height - 2 * kMargin - 1) / line_height_)), 0,
                     count);
    last_top = count - fit;
  } else {
    fit = static_cast<int>(height / line_height_);
    last_top = std::max(count - 1, 0);
  }
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, last_top);
  vertical->setPageStep(fit);
  const int document_width = count > 0 ? static_cast<int>(widest_ + 2 * kMargin) : 0;
  horizontalScrollBar()->setRange(0, document_width - viewport()->width());
  horizontalScrollBar()->setPageStep(viewport()->width());
}

qreal MonitorPane::TopOffset() const { return verticalScrollBar()->value() == 0 ? kMargin : 0; }

QTextLayout& MonitorPane::LayoutOf(int index) {
  MonitorLine& line = lines_.At(index);
  if (line.layout) return *line.layout;
  line.layout = std::make_unique<QTextLayout>(line.text, font(), viewport());
  QTextLayout& layout = *line.layout;
  layout.setTextOption(text_option_);
  layout.setCacheEnabled(true);
  QList<QTextLayout::FormatRange> formats;
  const auto size = static_cast<int>(line.text.size());
  for (std::size_t i = 0; i < line.runs.size(); ++i) {
    const int end = i + 1 < line.runs.size() ? line.runs[i + 1].start : size;
    if (end > line.runs[i].start) {
      formats.append({line.runs[i].start, end - line.runs[i].start,
                      formats_[static_cast<std::size_t>(line.runs[i].role)]});
    }
  }
  layout.setFormats(formats);
  LayOut(layout);
  const std::int64_t serial = lines_.FirstSerial() + index;
  // A line laid out again after its text grew is listed once.
  if (std::find(laid_out_.begin(), laid_out_.end(), serial) == laid_out_.end())
    laid_out_.push_back(serial);
  return layout;
}

void MonitorPane::ForgetLayoutsOutside(int first, int end) {
  const std::int64_t base = lines_.FirstSerial();
  std::erase_if(laid_out_, [&](std::int64_t serial) {
    if (serial >= base + first && serial < base + end) return false;
    if (serial >= base && serial < base + lines_.Count())
      lines_.At(static_cast<int>(serial - base)).layout.reset();
    return true;
  });
}

void MonitorPane::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  QRect area = event->rect();
  const qreal x = -horizontalScrollBar()->value();
  // As QPlainTextEdit, keeps the right margin clear of a selection.
  const qreal document_width = std::max<qreal>(viewport()->width(), widest_ + 2 * kMargin);
  area.setRight(std::min(area.right(), static_cast<int>(x + document_width - kMargin + 1)));
  painter.setClipRect(area);
  painter.setPen(palette().text().color());

  const int top = verticalScrollBar()->value();
  qreal y = TopOffset();
  int index = top;
  while (index < lines_.Count()) {
    if (y + line_height_ >= area.top() && y <= area.bottom())
      DrawLine(painter, index, QPointF(x, y), area);
    ++index;
    y += line_height_;
    if (y > viewport()->height()) break;
  }
  ForgetLayoutsOutside(top, index);
}

void MonitorPane::DrawLine(QPainter& painter, int index, QPointF at, const QRect& area) {
  QTextLayout& layout = LayoutOf(index);
  const std::int64_t serial = lines_.FirstSerial() + index;
  const int length = static_cast<int>(lines_.At(index).text.size());
  QList<QTextLayout::FormatRange> selections;
  const MonitorPlace anchor = lines_.Clamp(anchor_);
  const MonitorPlace cursor = lines_.Clamp(cursor_);
  const MonitorPlace from = std::min(anchor, cursor);
  const MonitorPlace to = std::max(anchor, cursor);
  if (from != to && from.line <= serial && serial <= to.line) {
    // Past the end of a line the selection takes its line break too.
    const int start = serial == from.line ? from.column : 0;
    const int end = serial == to.line ? to.column : length + 1;
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    QTextCharFormat format;
    format.setBackground(palette().brush(group, QPalette::Highlight));
    format.setForeground(palette().brush(group, QPalette::HighlightedText));
    if (end > start) selections.append({start, end - start, format});
  }
  layout.draw(&painter, at, selections, area);
  if (cursor_shown_ && cursor.line == serial) layout.drawCursor(&painter, at, cursor.column, 1);
}

void MonitorPane::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void MonitorPane::showEvent(QShowEvent* event) {
  QAbstractScrollArea::showEvent(event);
  UpdateScrollBars();
}

void MonitorPane::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    Measure();
    UpdateScrollBars();
    viewport()->update();
  }
}

void MonitorPane::scrollContentsBy(int, int) { viewport()->update(); }

}  // namespace zevrin
