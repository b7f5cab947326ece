// The main window's layout: the top row of labels, the housekeeping fields with
// their gauges and status pictures, the bottom row and the side column. Every
// field is at least as wide as the widest text the decoder writes into it.

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "widgets/pictures.h"
#include "widgets/qt_text.h"
#include "widgets/terminal_line.h"
#include "widgets/text_fit.h"
#include "windows/main_window.h"

namespace zevrin {

namespace {

// Least widths of the layout; each grows to the widest text it can show.
constexpr int kFieldWidth = 76;
constexpr int kSideFieldWidth = 64;
constexpr int kUnitWidth = 36;
constexpr int kSideUnitWidth = 20;
constexpr int kColumnGap = 10;
constexpr int kHousekeepingRows = 17;
constexpr int kPortPictureSize = 22;
constexpr int kStatusPictureSize = 18;

// The status windows in the order of their fields, for the pictures beside those
// fields; each window names its own field.
constexpr std::array<StatusWindow, kStatusWindowCount> kStatusPictureOrder = {
    StatusWindow::kSystem,          StatusWindow::kResource,        StatusWindow::kMagnetometer,
    StatusWindow::kSunSensorStatus, StatusWindow::kSunSensorConfig, StatusWindow::kGps,
};

// The widest texts the decoder writes into a field, by column: numbers everywhere,
// words (mode, power level, heater, attitude-control mode) in the first column,
// the memory pointers in hex in the third. A pointer is eight hex digits below
// 80000000; which hex digit is widest depends on the font.
const QStringList kWidestNumberTexts = {"-16383.5", "11111111", "65535", "1600.00", "-128.0"};
const std::array<QStringList, 4> kWidestColumnTexts = {
    kWidestNumberTexts + QStringList{"EMERGENCY", "POWERSAFE", "MAG_CALIB", "SUN_TEST"},
    kWidestNumberTexts,
    kWidestNumberTexts + QStringList{"7AAAAAAA", "7BBBBBBB", "7CCCCCCC", "7DDDDDDD", "7EEEEEEE",
                                     "7FFFFFFF", "78888888"},
    kWidestNumberTexts};
// The same for the threshold fields and the link-mode field beside them.
const QStringList kWidestSideFieldTexts = {"NOMINAL", "-128", "5.00"};
// A gauge shows a 16-bit signed fill level.
const QStringList kWidestGaugeTexts = {"-32768%", "100%"};
// The bottom-row boxes in the order of Box; the frame-type box takes the room left.
const std::array<QStringList, kBoxCount> kWidestBoxTexts = {
    QStringList{"255.255.2155 255:255:255"},
    QStringList{"Wednesday", "Thursday", "Saturday"},
    QStringList{"ADCS Extended HK Data", "no TARVELO packets", "unknown Data Frame"},
    QStringList{"65535"},
    QStringList{"255"},
    QStringList{"65535"}};
// Typical widest texts of the labels along the top, so they do not jump as they
// count; longer texts still widen them.
const QStringList kWidestPortLabelTexts = {"COM16 115200,N,8,1.5 initialized "};
const QStringList kWidestCounterTexts = {"2147483647 Bytes received (32768 Frames)"};
const QStringList kWidestLastPacketTexts = {"99999 sec since last packet [99999]"};
const QStringList kWidestClockTexts = {"00:00:00", kClockLabelStart};

QString FieldName(int index) { return QStringLiteral("Text1_%1").arg(index); }

// The housekeeping grid has four columns of fields; each takes four grid columns:
// caption, field, unit (or gauge or status picture) and the gap to the next.
constexpr int kHousekeepingColumns = 4;
constexpr int kCellsPerColumn = 4;
constexpr int kCaptionCell = 0;
constexpr int kFieldCell = 1;
constexpr int kUnitCell = 2;
constexpr int kGapCell = 3;

// The grid column of `cell` in the field column `column` (counted from 1).
int GridColumn(int column, int cell) { return (column - 1) * kCellsPerColumn + cell; }

QLabel* Caption(const QString& text, QWidget* parent) {
  QLabel* label = PlainLabel(text, parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

QLabel* SunkenLabel(const QString& name, const QString& text, QWidget* parent) {
  QLabel* label = PlainLabel(text, parent);
  label->setObjectName(name);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setMargin(2);
  return label;
}

QLabel* PortPicture(const char* name, const QPixmap& pixmap, const char* tip, QWidget* parent) {
  QLabel* picture = PlainLabel(QString(), parent);
  picture->setObjectName(QString::fromLatin1(name));
  picture->setPixmap(pixmap);
  picture->setToolTip(QString::fromLatin1(tip));
  // It keeps its place while hidden, so the row does not shift when the port state
  // changes.
  QSizePolicy policy = picture->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  picture->setSizePolicy(policy);
  return picture;
}

// Every row one field high, and each unit column as wide as its widest gauge.
void SizeHousekeepingGrid(QGridLayout& grid, int row_height, std::span<const int> unit_widths) {
  for (int row = 0; row < kHousekeepingRows; ++row) grid.setRowMinimumHeight(row, row_height);
  for (int column = 1; column <= kHousekeepingColumns; ++column) {
    grid.setColumnMinimumWidth(GridColumn(column, kUnitCell),
                               unit_widths[static_cast<std::size_t>(column - 1)]);
    if (column < kHousekeepingColumns) {
      grid.setColumnMinimumWidth(GridColumn(column, kGapCell), kColumnGap);
    }
    grid.setColumnStretch(GridColumn(column, kGapCell), 1);
  }
}

}  // namespace

QWidget* MainWindow::BuildTopRow() {
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);

  port_label_ = SunkenLabel(QStringLiteral("PortLabel"), QString::fromLatin1(kPortLabelStart), row);
  port_label_->setMinimumWidth(LabelWidthFor(*port_label_, kWidestPortLabelTexts, 230));
  counter_label_ = SunkenLabel(QStringLiteral("ReceiveCounterLabel"), QString(), row);
  counter_label_->setMinimumWidth(LabelWidthFor(*counter_label_, kWidestCounterTexts, 260));
  last_packet_label_ =
      SunkenLabel(QStringLiteral("Label4"), QString::fromLatin1(kLastPacketLabelStart), row);
  last_packet_label_->setMinimumWidth(
      LabelWidthFor(*last_packet_label_, kWidestLastPacketTexts, 250));
  QLabel* utc = PlainLabel(QStringLiteral("UTC"), row);
  utc->setObjectName(QStringLiteral("UtcLabel"));
  clock_label_ =
      SunkenLabel(QStringLiteral("ClockLabel"), QString::fromLatin1(kClockLabelStart), row);
  clock_label_->setMinimumWidth(LabelWidthFor(*clock_label_, kWidestClockTexts, 70));
  clock_label_->setAlignment(Qt::AlignCenter);
  port_open_picture_ =
      PortPicture("PortOpenPicture", PortOpenPicture(kPortPictureSize), "port open", row);
  port_closed_picture_ =
      PortPicture("PortClosedPicture", PortClosedPicture(kPortPictureSize), "port closed", row);
  ShowPortOpen(false);

  layout->addWidget(port_label_);
  layout->addWidget(counter_label_);
  layout->addStretch(1);
  layout->addWidget(last_packet_label_);
  layout->addSpacing(12);
  layout->addWidget(utc);
  layout->addWidget(clock_label_);
  layout->addSpacing(8);
  layout->addWidget(port_open_picture_);
  layout->addWidget(port_closed_picture_);
  return row;
}

QLineEdit* MainWindow::MakeField(const QString& name, int least_width, const QStringList& widest) {
  auto* field = new QLineEdit(this);
  field->setObjectName(name);
  field->setReadOnly(true);
  field->setFocusPolicy(Qt::ClickFocus);
  const int width = LineEditWidthFor(*field, widest, least_width);
  // Without a least width the field takes the room left, but never less than that.
  if (least_width > 0) {
    field->setFixedWidth(width);
  } else {
    field->setMinimumWidth(width);
  }
  return field;
}

QWidget* MainWindow::BuildHousekeeping() {
  auto* box = new QGroupBox(QStringLiteral("Housekeeping Data"), this);
  box->setObjectName(QStringLiteral("HousekeepingFrame"));
  auto* outer = new QVBoxLayout(box);
  outer->setContentsMargins(8, 6, 8, 6);
  outer->setSpacing(6);

  // Four columns of caption, field and unit; a gauge or a status picture takes
  // the unit's place beside the fields that have one.
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(2);
  std::array<int, kHousekeepingColumns> unit_widths;
  unit_widths.fill(kUnitWidth);
  AddHousekeepingFields(*grid, box);
  AddGauges(*grid, box, unit_widths);
  AddStatusPictures(*grid, box);
  SizeHousekeepingGrid(*grid, fields_[0]->sizeHint().height(), unit_widths);
  outer->addLayout(grid);
  outer->addLayout(BuildBottomRow(box));
  return box;
}

void MainWindow::AddHousekeepingFields(QGridLayout& grid, QWidget* box) {
  const auto& table = DisplayFieldTable();
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    const FieldInfo& info = table[static_cast<std::size_t>(index)];
    if (info.group != FieldGroup::kHousekeeping) continue;
    const int row = info.row - 1;
    grid.addWidget(Caption(FromUtf8(info.caption), box), row,
                   GridColumn(info.column, kCaptionCell));
    fields_[static_cast<std::size_t>(index)] =
        MakeField(FieldName(index), kFieldWidth,
                  kWidestColumnTexts[static_cast<std::size_t>(info.column - 1)]);
    grid.addWidget(fields_[static_cast<std::size_t>(index)], row,
                   GridColumn(info.column, kFieldCell));
    if (!info.unit.empty()) {
      grid.addWidget(Caption(FromUtf8(info.unit), box), row, GridColumn(info.column, kUnitCell));
    }
  }
}

void MainWindow::AddGauges(QGridLayout& grid, QWidget* box, std::span<int> unit_widths) {
  const auto& table = DisplayFieldTable();
  for (std::size_t g = 0; g < kGaugeCount; ++g) {
    const GaugeInfo& gauge = GaugeTable()[g];
    const FieldInfo& beside = table[static_cast<std::size_t>(gauge.beside_field)];
    gauges_[g] = PlainLabel(QString(), box);
    gauges_[g]->setObjectName(FromUtf8(gauge.element));
    // As wide as its widest text always, so a wide level does not move the columns.
    gauges_[g]->setFixedWidth(LabelWidthFor(*gauges_[g], kWidestGaugeTexts));
    int& unit_width = unit_widths[static_cast<std::size_t>(beside.column - 1)];
    unit_width = std::max(unit_width, gauges_[g]->width());
    grid.addWidget(gauges_[g], beside.row - 1, GridColumn(beside.column, kUnitCell));
  }
}

void MainWindow::AddStatusPictures(QGridLayout& grid, QWidget* box) {
  const auto& table = DisplayFieldTable();
  for (const StatusWindow window : kStatusPictureOrder) {
    const StatusWindowInfo& info = StatusWindowData(window);
    const auto field = static_cast<std::size_t>(info.field);
    const FieldInfo& beside = table[field];
    auto* button = new QToolButton(box);
    button->setObjectName(QStringLiteral("StatusPicture_%1").arg(info.field));
    button->setIcon(StatusButtonPicture(kStatusPictureSize));
    button->setIconSize(QSize(kStatusPictureSize, kStatusPictureSize));
    button->setAutoRaise(true);
    // No taller than a field, so the rows keep one pitch.
    const int side = fields_[field]->sizeHint().height();
    button->setFixedSize(side, side);
    button->setToolTip(FromUtf8(info.caption));
    connect(button, &QToolButton::clicked, this,
            [this, window] { program_.status_windows.Open(window); });
    grid.addWidget(button, beside.row - 1, GridColumn(beside.column, kUnitCell), Qt::AlignLeft);
  }
}

// The bottom row: satellite time and weekday, frame type, frame number, counter
// and header word.
QHBoxLayout* MainWindow::BuildBottomRow(QWidget* box) {
  auto* bottom = new QHBoxLayout;
  bottom->setSpacing(4);
  constexpr std::array<int, kBoxCount> kBoxWidths = {150, 90, 0, 64, 56, 64};  // 0: stretches
  for (std::size_t b = 0; b < kBoxCount; ++b) {
    const BoxInfo& info = BoxTable()[b];
    if (!info.caption.empty()) {
      if (b > 0) bottom->addSpacing(10);
      bottom->addWidget(Caption(FromUtf8(info.caption), box));
    }
    boxes_[b] = MakeField(FromUtf8(info.element), kBoxWidths[b], kWidestBoxTexts[b]);
    bottom->addWidget(boxes_[b], kBoxWidths[b] == 0 ? 1 : 0);
  }
  return bottom;
}

QWidget* MainWindow::BuildSideColumn() {
  auto* column = new QWidget(this);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);

  auto* thresholds = new QGroupBox(QStringLiteral("Tresholds"), column);
  thresholds->setObjectName(QStringLiteral("ThresholdsFrame"));
  auto* threshold_grid = new QGridLayout(thresholds);
  threshold_grid->setVerticalSpacing(2);
  auto* com = new QGroupBox(QStringLiteral("COM"), column);
  com->setObjectName(QStringLiteral("ComFrame"));
  auto* com_grid = new QGridLayout(com);
  AddSideFields(*threshold_grid, *com_grid);
  for (QGridLayout* grid : {threshold_grid, com_grid}) {
    grid->setColumnMinimumWidth(2, kSideUnitWidth);
    grid->setColumnStretch(0, 1);
  }

  QGroupBox* options = BuildOptions(column);
  QGroupBox* terminal = BuildTerminal(column);
  tnc_button_ = new QPushButton(QStringLiteral("TNC2 @K"), column);
  tnc_button_->setObjectName(QStringLiteral("Command4"));
  connect(tnc_button_, &QPushButton::clicked, this, &MainWindow::TncButtonClicked);

  layout->addWidget(thresholds);
  layout->addWidget(com);
  layout->addWidget(options);
  layout->addWidget(terminal);
  layout->addWidget(tnc_button_);
  layout->addStretch(1);
  // At least this wide, wider when its captions and fields need it.
  column->setMinimumWidth(std::max(264, column->sizeHint().width()));
  column->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  return column;
}

// The threshold and COM fields, each with its caption and unit, in one pass over
// the table so that they are made in its order.
void MainWindow::AddSideFields(QGridLayout& thresholds, QGridLayout& com) {
  const auto& table = DisplayFieldTable();
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    const FieldInfo& info = table[static_cast<std::size_t>(index)];
    QGridLayout* grid = info.group == FieldGroup::kThresholds ? &thresholds
                        : info.group == FieldGroup::kCom      ? &com
                                                              : nullptr;
    if (grid == nullptr) continue;
    const int row = info.row > 0 ? info.row - 1 : 0;
    QWidget* parent = grid->parentWidget();
    grid->addWidget(Caption(FromUtf8(info.caption), parent), row, 0);
    fields_[static_cast<std::size_t>(index)] =
        MakeField(FieldName(index), kSideFieldWidth, kWidestSideFieldTexts);
    grid->addWidget(fields_[static_cast<std::size_t>(index)], row, 1);
    grid->addWidget(Caption(FromUtf8(info.unit), parent), row, 2);
  }
}

QGroupBox* MainWindow::BuildOptions(QWidget* column) {
  auto* options = new QGroupBox(QStringLiteral("Options"), column);
  options->setObjectName(QStringLiteral("OptionsFrame"));
  auto* options_layout = new QVBoxLayout(options);
  analyze_frame_ = new QCheckBox(QStringLiteral("Decode KISS Frame"), options);
  analyze_frame_->setObjectName(QStringLiteral("AnalyzeFrame"));
  analyze_frame_->setChecked(true);
  connect(analyze_frame_, &QCheckBox::toggled, this,
          [this](bool checked) { pipeline_.analysis().options().analyze_frame = checked; });
  options_layout->addWidget(analyze_frame_);
  return options;
}

QGroupBox* MainWindow::BuildTerminal(QWidget* column) {
  auto* terminal = new QGroupBox(QStringLiteral("Terminal"), column);
  terminal->setObjectName(QStringLiteral("TerminalFrame"));
  auto* terminal_layout = new QVBoxLayout(terminal);
  terminal_ = new TerminalLine([this](int code) { emit TerminalKeyPressed(code); }, terminal);
  terminal_->setObjectName(QStringLiteral("Text2"));
  terminal_layout->addWidget(terminal_);
  return terminal;
}

}  // namespace zevrin
