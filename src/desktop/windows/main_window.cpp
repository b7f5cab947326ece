#include "windows/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDrag>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <functional>
#include <utility>

#include "base/colours.h"
#include "history/history_window.h"
#include "widgets/pictures.h"
#include "widgets/qt_text.h"
#include "widgets/text_fit.h"
#include "windows/about_window.h"

namespace zevrin {

namespace {

// Least widths of the layout; each grows to the widest text it can show.
constexpr int kFieldWidth = 76;
constexpr int kSideFieldWidth = 64;
constexpr int kUnitWidth = 36;
constexpr int kColumnGap = 10;
constexpr int kHousekeepingRows = 17;
constexpr int kPortPictureSize = 22;
constexpr int kStatusPictureSize = 18;

// The status picture beside each status field, and the window it opens.
struct StatusPictureInfo {
  int field;
  StatusWindow window;
};
constexpr std::array<StatusPictureInfo, kStatusWindowCount> kStatusPictures = {{
    {69, StatusWindow::kSystem},
    {70, StatusWindow::kResource},
    {71, StatusWindow::kMagnetometer},
    {72, StatusWindow::kSunSensorStatus},
    {73, StatusWindow::kSunSensorConfig},
    {74, StatusWindow::kGps},
}};

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

// The terminal line: reports each key with its character code before handling it
// the way any one-line text box does.
class TerminalLine final : public QLineEdit {
 public:
  TerminalLine(std::function<void(int)> on_key, QWidget* parent)
      : QLineEdit(parent), on_key_(std::move(on_key)) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const QString text = event->text();
    if (!text.isEmpty()) on_key_(text.at(0).unicode());
    QLineEdit::keyPressEvent(event);
  }

 private:
  std::function<void(int)> on_key_;
};

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

}  // namespace

MainWindow::MainWindow(DesktopProgram& program, QWidget* parent)
    : QMainWindow(parent), program_(program), pipeline_(program, *this, *this) {
  setObjectName(QStringLiteral("MainWindow"));
  pipeline_.analysis().options() = MonitorOptions{};
  program_.fields.SetObserver(nullptr);
  program_.fields.Clear();

  BuildMenus();

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(6, 4, 6, 2);
  layout->setSpacing(4);
  layout->addWidget(BuildTopRow());

  auto* middle = new QHBoxLayout;
  middle->setSpacing(6);
  middle->addWidget(BuildHousekeeping(), 1);
  middle->addWidget(BuildSideColumn(), 0);
  layout->addLayout(middle, 0);

  auto* monitor_box = new QGroupBox(QStringLiteral("Raw Data (KISS)"), central);
  monitor_box->setObjectName(QStringLiteral("MonitorFrame"));
  auto* monitor_layout = new QVBoxLayout(monitor_box);
  monitor_layout->setContentsMargins(4, 4, 4, 4);
  monitor_ = new MonitorPane(monitor_box);
  monitor_->setObjectName(QStringLiteral("Monitor"));
  monitor_->setMinimumHeight(120);
  monitor_layout->addWidget(monitor_);
  layout->addWidget(monitor_box, 1);

  setCentralWidget(central);
  statusBar()->setObjectName(QStringLiteral("StatusBar"));
  // The message is a label of the status bar's own, not a temporary message, which
  // a menu would replace with the status tip of each entry it passes.
  status_label_ = new QLabel(statusBar());
  status_label_->setObjectName(QStringLiteral("StatusText"));
  status_label_->setTextFormat(Qt::PlainText);
  statusBar()->addWidget(status_label_, 1);
  // The sharing state stays at the right while messages come and go at the left.
  share_label_ = new QLabel(this);
  share_label_->setObjectName(QStringLiteral("ShareStatus"));
  share_label_->setTextFormat(Qt::PlainText);
  statusBar()->addPermanentWidget(share_label_);
  resize(1280, 800);

  program_.fields.SetObserver(this);
}

MainWindow::~MainWindow() {
  if (program_.fields.observer() == this) program_.fields.SetObserver(nullptr);
}

void MainWindow::SetShareStatus(const QString& line, const QString& details) {
  share_label_->setText(line);
  share_label_->setToolTip(
      details.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")));
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* setup = file->addAction(QStringLiteral("TNC Setup"));
  setup->setObjectName(QStringLiteral("MnuSetup"));
  connect(setup, &QAction::triggered, this, &MainWindow::SetupRequested);
  QAction* share = file->addAction(QStringLiteral("Share Telemetry..."));
  share->setObjectName(QStringLiteral("MnuShare"));
  connect(share, &QAction::triggered, this, &MainWindow::ShareRequested);
  QAction* log_folder = file->addAction(QStringLiteral("Open &Log Folder"));
  log_folder->setObjectName(QStringLiteral("MnuOpenLogFolder"));
  connect(log_folder, &QAction::triggered, this, [this] {
    // In the desktop's file manager; without one, the status bar says where it is.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(log_folder_))) {
      SetStatusText(("cannot open the log folder " + log_folder_).toStdString());
    }
  });
  QAction* exit = file->addAction(QStringLiteral("&Exit"));
  exit->setObjectName(QStringLiteral("MnuExit"));
  connect(exit, &QAction::triggered, this, &MainWindow::ExitRequested);

  QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
  QAction* clear = options->addAction(QStringLiteral("&Clear"));
  clear->setObjectName(QStringLiteral("MnuClear"));
  connect(clear, &QAction::triggered, this, [this] {
    ClearMonitor();
    emit Cleared();
  });
  hexdump_action_ = options->addAction(QStringLiteral("Write Payload to ASCII File (Hexdump)"));
  hexdump_action_->setObjectName(QStringLiteral("Mnu_ASCII_Hexdump"));
  hexdump_action_->setCheckable(true);
  hexdump_action_->setChecked(false);
  connect(hexdump_action_, &QAction::toggled, this, [this](bool checked) {
    pipeline_.analysis().options().hexdump = checked;
    emit HexdumpToggled(checked);
  });

  QMenu* info = menuBar()->addMenu(QStringLiteral("&Info"));
  QAction* about = info->addAction(QStringLiteral("&About"));
  about->setObjectName(QStringLiteral("MnuAbout"));
  connect(about, &QAction::triggered, this, [this] { OpenAboutWindow(log_folder_); });
}

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

  port_open_picture_ = PlainLabel(QString(), row);
  port_open_picture_->setObjectName(QStringLiteral("PortOpenPicture"));
  port_open_picture_->setPixmap(PortOpenPicture(kPortPictureSize));
  port_open_picture_->setToolTip(QStringLiteral("port open"));
  port_closed_picture_ = PlainLabel(QString(), row);
  port_closed_picture_->setObjectName(QStringLiteral("PortClosedPicture"));
  port_closed_picture_->setPixmap(PortClosedPicture(kPortPictureSize));
  port_closed_picture_->setToolTip(QStringLiteral("port closed"));
  // Both keep their place, so the row does not shift when the port state changes.
  for (QLabel* picture : {port_open_picture_, port_closed_picture_}) {
    QSizePolicy policy = picture->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    picture->setSizePolicy(policy);
  }
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
  const auto& table = DisplayFieldTable();
  std::array<int, 4> unit_widths;
  unit_widths.fill(kUnitWidth);
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    const FieldInfo& info = table[static_cast<std::size_t>(index)];
    if (info.group != FieldGroup::kHousekeeping) continue;
    const int row = info.row - 1;
    const int col = (info.column - 1) * 4;
    grid->addWidget(Caption(FromUtf8(info.caption), box), row, col);
    fields_[static_cast<std::size_t>(index)] =
        MakeField(FieldName(index), kFieldWidth,
                  kWidestColumnTexts[static_cast<std::size_t>(info.column - 1)]);
    grid->addWidget(fields_[static_cast<std::size_t>(index)], row, col + 1);
    if (!info.unit.empty()) grid->addWidget(Caption(FromUtf8(info.unit), box), row, col + 2);
  }
  for (std::size_t g = 0; g < kGaugeCount; ++g) {
    const GaugeInfo& gauge = GaugeTable()[g];
    const FieldInfo& beside = table[static_cast<std::size_t>(gauge.beside_field)];
    gauges_[g] = PlainLabel(QString(), box);
    gauges_[g]->setObjectName(FromUtf8(gauge.element));
    // As wide as its widest text always, so a wide level does not move the columns.
    gauges_[g]->setFixedWidth(LabelWidthFor(*gauges_[g], kWidestGaugeTexts));
    int& unit_width = unit_widths[static_cast<std::size_t>(beside.column - 1)];
    unit_width = std::max(unit_width, gauges_[g]->width());
    grid->addWidget(gauges_[g], beside.row - 1, (beside.column - 1) * 4 + 2);
  }
  for (const StatusPictureInfo& picture : kStatusPictures) {
    const FieldInfo& beside = table[static_cast<std::size_t>(picture.field)];
    auto* button = new QToolButton(box);
    button->setObjectName(QStringLiteral("StatusPicture_%1").arg(picture.field));
    button->setIcon(StatusButtonPicture(kStatusPictureSize));
    button->setIconSize(QSize(kStatusPictureSize, kStatusPictureSize));
    button->setAutoRaise(true);
    // No taller than a field, so the rows keep one pitch.
    const int side = fields_[static_cast<std::size_t>(picture.field)]->sizeHint().height();
    button->setFixedSize(side, side);
    button->setToolTip(FromUtf8(StatusWindowData(picture.window).caption));
    const StatusWindow window = picture.window;
    connect(button, &QToolButton::clicked, this,
            [this, window] { program_.status_windows.Open(window); });
    grid->addWidget(button, beside.row - 1, (beside.column - 1) * 4 + 2, Qt::AlignLeft);
  }
  const int row_height = fields_[0]->sizeHint().height();
  for (int row = 0; row < kHousekeepingRows; ++row) grid->setRowMinimumHeight(row, row_height);
  for (int column = 0; column < 4; ++column) {
    grid->setColumnMinimumWidth(column * 4 + 2, unit_widths[static_cast<std::size_t>(column)]);
    if (column < 3) grid->setColumnMinimumWidth(column * 4 + 3, kColumnGap);
    grid->setColumnStretch(column * 4 + 3, 1);
  }
  outer->addLayout(grid);

  // The bottom row: satellite time and weekday, frame type, frame number,
  // counter and header word.
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
  outer->addLayout(bottom);
  return box;
}

QWidget* MainWindow::BuildSideColumn() {
  auto* column = new QWidget(this);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);
  const auto& table = DisplayFieldTable();

  auto* thresholds = new QGroupBox(QStringLiteral("Tresholds"), column);
  thresholds->setObjectName(QStringLiteral("ThresholdsFrame"));
  auto* threshold_grid = new QGridLayout(thresholds);
  threshold_grid->setVerticalSpacing(2);
  auto* com = new QGroupBox(QStringLiteral("COM"), column);
  com->setObjectName(QStringLiteral("ComFrame"));
  auto* com_grid = new QGridLayout(com);
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    const FieldInfo& info = table[static_cast<std::size_t>(index)];
    QGridLayout* grid = info.group == FieldGroup::kThresholds ? threshold_grid
                        : info.group == FieldGroup::kCom      ? com_grid
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
  threshold_grid->setColumnMinimumWidth(2, 20);
  com_grid->setColumnMinimumWidth(2, 20);
  threshold_grid->setColumnStretch(0, 1);
  com_grid->setColumnStretch(0, 1);

  auto* options = new QGroupBox(QStringLiteral("Options"), column);
  options->setObjectName(QStringLiteral("OptionsFrame"));
  auto* options_layout = new QVBoxLayout(options);
  analyze_frame_ = new QCheckBox(QStringLiteral("Decode KISS Frame"), options);
  analyze_frame_->setObjectName(QStringLiteral("AnalyzeFrame"));
  analyze_frame_->setChecked(true);
  connect(analyze_frame_, &QCheckBox::toggled, this,
          [this](bool checked) { pipeline_.analysis().options().analyze_frame = checked; });
  options_layout->addWidget(analyze_frame_);

  auto* terminal = new QGroupBox(QStringLiteral("Terminal"), column);
  terminal->setObjectName(QStringLiteral("TerminalFrame"));
  auto* terminal_layout = new QVBoxLayout(terminal);
  terminal_ = new TerminalLine([this](int code) { emit TerminalKeyPressed(code); }, terminal);
  terminal_->setObjectName(QStringLiteral("Text2"));
  terminal_layout->addWidget(terminal_);

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

void MainWindow::SetStatusText(std::string_view text) {
  const QString message = FromUtf8(text);
  if (status_label_->text() == message) return;
  status_label_->setText(message);
  emit StatusTextChanged(message);
}

void MainWindow::SetReceiveCounterText(std::string_view text) {
  counter_label_->setText(FromUtf8(text));
}

void MainWindow::AppendMonitorText(std::string_view text, ColourRole role) {
  monitor_->AppendMonitorText(text, role);
}

void MainWindow::SetHexdumpChecked(bool checked) {
  const QSignalBlocker blocker(hexdump_action_);
  hexdump_action_->setChecked(checked);
}

void MainWindow::SetTncControlsEnabled(bool enabled, const QString& why) {
  for (QWidget* control : {static_cast<QWidget*>(tnc_button_), static_cast<QWidget*>(terminal_)}) {
    control->setEnabled(enabled);
    control->setToolTip(enabled ? QString() : why);
  }
}

void MainWindow::ShowPortOpen(bool open) {
  port_open_picture_->setVisible(open);
  port_closed_picture_->setVisible(!open);
}

void MainWindow::ClearMonitor() {
  monitor_->Clear();
  pipeline_.path().ClearCounters();
  counter_label_->clear();
}

bool MainWindow::event(QEvent* event) {
  // Status tips (a menu entry hovered, a menu closed) would cover the message; the
  // window has none to show.
  if (event->type() == QEvent::StatusTip) return true;
  return QMainWindow::event(event);
}

void MainWindow::SetHistoryFields(std::span<const int> fields) {
  history_fields_.reset();
  for (const int field : fields) {
    if (field < 0 || field >= kDisplayFieldCount) continue;
    QLineEdit* edit = fields_[static_cast<std::size_t>(field)];
    if (edit == nullptr) continue;  // hidden fields cannot be clicked
    history_fields_.set(static_cast<std::size_t>(field));
    edit->installEventFilter(this);
    edit->setToolTip(QStringLiteral("Double-click or drag to a history window for the trend"));
  }
}

// Double-click, context menu and dragging on the fields that offer their history.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  int field = -1;
  for (int index = 0; index < kDisplayFieldCount; ++index) {
    if (fields_[static_cast<std::size_t>(index)] == watched &&
        history_fields_.test(static_cast<std::size_t>(index))) {
      field = index;
    }
  }
  if (field < 0) return QMainWindow::eventFilter(watched, event);
  QLineEdit* edit = fields_[static_cast<std::size_t>(field)];
  switch (event->type()) {
    case QEvent::MouseButtonDblClick:
      emit HistoryRequested(field);
      return true;
    case QEvent::ContextMenu: {
      QMenu* menu = edit->createStandardContextMenu();
      menu->setAttribute(Qt::WA_DeleteOnClose);
      menu->addSeparator();
      QAction* history = menu->addAction(QStringLiteral("History..."));
      history->setObjectName(QStringLiteral("HistoryAction"));
      connect(history, &QAction::triggered, this, [this, field] { emit HistoryRequested(field); });
      menu->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
      return true;
    }
    case QEvent::MouseButtonPress:
      drag_start_ = static_cast<QMouseEvent*>(event)->position().toPoint();
      break;
    case QEvent::MouseMove: {
      const auto* move = static_cast<QMouseEvent*>(event);
      if (!(move->buttons() & Qt::LeftButton) ||
          (move->position().toPoint() - drag_start_).manhattanLength() <
              QApplication::startDragDistance()) {
        break;
      }
      // The field's number for a history window, its text for anything else.
      auto* data = new QMimeData;
      data->setData(QLatin1String(kDisplayFieldMimeType), QByteArray::number(field));
      data->setText(edit->text());
      auto* drag = new QDrag(edit);
      drag->setMimeData(data);
      drag->exec(Qt::CopyAction);
      return true;
    }
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  emit Closing();
  QMainWindow::closeEvent(event);
}

void MainWindow::FieldWritten(int index) {
  if (index < 0 || index >= kDisplayFieldCount) return;
  QLineEdit* field = fields_[static_cast<std::size_t>(index)];
  if (field == nullptr) return;  // hidden: kept in the store only
  const QString text = FromUtf8(program_.fields.Field(index));
  if (field->text() == text) return;
  field->setText(text);
  field->setCursorPosition(0);
}

void MainWindow::FieldColoured(int index) {
  if (index < 0 || index >= kDisplayFieldCount) return;
  ShowFieldColour(index);
}

void MainWindow::ShowFieldColour(int index) {
  QLineEdit* field = fields_[static_cast<std::size_t>(index)];
  if (field == nullptr) return;
  const std::optional<Rgb> rgb = FieldColourRgb(program_.fields.Colour(index));
  if (!rgb) {
    field->setPalette(QPalette());
    return;
  }
  QPalette palette = field->palette();
  palette.setColor(QPalette::Base, QColor(rgb->r, rgb->g, rgb->b));
  field->setPalette(palette);
}

void MainWindow::BoxWritten(Box box) {
  const auto b = static_cast<std::size_t>(box);
  if (b >= kBoxCount) return;
  const QString text = FromUtf8(program_.fields.BoxText(box));
  if (boxes_[b]->text() == text) return;
  boxes_[b]->setText(text);
  boxes_[b]->setCursorPosition(0);
}

void MainWindow::GaugeWritten(Gauge gauge) {
  const auto g = static_cast<std::size_t>(gauge);
  if (g >= kGaugeCount) return;
  gauges_[g]->setText(FromUtf8(program_.fields.GaugeText(gauge)));
}

}  // namespace zevrin
