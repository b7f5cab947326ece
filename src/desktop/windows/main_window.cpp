#include "windows/main_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include "base/colours.h"
#include "widgets/qt_text.h"
#include "windows/about_window.h"

namespace zevrin {

namespace {

// The window's size when it opens, and the least height of the frame monitor.
constexpr int kStartWidth = 1280;
constexpr int kStartHeight = 800;
constexpr int kMonitorLeastHeight = 120;

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

  layout->addWidget(BuildMonitor(central), 1);

  setCentralWidget(central);
  BuildStatusBar();
  resize(kStartWidth, kStartHeight);

  program_.fields.SetObserver(this);
}

QWidget* MainWindow::BuildMonitor(QWidget* central) {
  auto* monitor_box = new QGroupBox(QStringLiteral("Raw Data (KISS)"), central);
  monitor_box->setObjectName(QStringLiteral("MonitorFrame"));
  auto* monitor_layout = new QVBoxLayout(monitor_box);
  monitor_layout->setContentsMargins(4, 4, 4, 4);
  monitor_ = new MonitorPane(monitor_box);
  monitor_->setObjectName(QStringLiteral("Monitor"));
  monitor_->setMinimumHeight(kMonitorLeastHeight);
  monitor_layout->addWidget(monitor_);
  return monitor_box;
}

void MainWindow::BuildStatusBar() {
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
  // Hidden while no alarm waits for a person, so a calm station looks as it always has.
  alarm_button_ = new QPushButton(this);
  alarm_button_->setObjectName(QStringLiteral("AlarmIndicator"));
  alarm_button_->setFlat(true);
  alarm_button_->setCursor(Qt::PointingHandCursor);
  // No taller than a line of text: the status bar keeps its height, shown or not.
  alarm_button_->setFixedHeight(status_label_->sizeHint().height());
  alarm_button_->hide();
  connect(alarm_button_, &QPushButton::clicked, this, &MainWindow::AlarmsRequested);
  statusBar()->addPermanentWidget(alarm_button_);
}

void MainWindow::SetAlarmIndicator(const QString& text, const QString& details,
                                   AlarmColours colours) {
  alarm_button_->setText(text);
  alarm_button_->setToolTip(details);
  alarm_button_->setStyleSheet(
      QStringLiteral("QPushButton#AlarmIndicator { background: %1; color: %2; border: none;"
                     " padding: 0px 10px; font-weight: bold; }")
          .arg(ToQColor(colours.background).name(), ToQColor(colours.text).name()));
  alarm_button_->setVisible(!text.isEmpty());
}

MainWindow::~MainWindow() {
  if (program_.fields.observer() == this) program_.fields.SetObserver(nullptr);
}

void MainWindow::SetShareStatus(const QString& line, const QString& details) {
  share_line_ = line;
  share_details_ = details;
  ShowSharingLine();
}

void MainWindow::SetFeedStatus(const QString& line, const QString& details) {
  feed_line_ = line;
  feed_details_ = details;
  ShowSharingLine();
}

void MainWindow::ShowSharingLine() {
  const bool feeds = !feed_line_.isEmpty();
  share_label_->setText(feeds ? share_line_ + QStringLiteral("  |  ") + feed_line_ : share_line_);
  QString details = share_details_;
  if (feeds && !feed_details_.isEmpty()) {
    if (!details.isEmpty()) details += QLatin1Char('\n');
    details += feed_details_;
  }
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
  QAction* feeds = file->addAction(QStringLiteral("Network Feeds..."));
  feeds->setObjectName(QStringLiteral("MnuFeeds"));
  connect(feeds, &QAction::triggered, this, &MainWindow::FeedsRequested);
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
  QAction* alarms = options->addAction(QStringLiteral("&Alarms..."));
  alarms->setObjectName(QStringLiteral("MnuAlarms"));
  connect(alarms, &QAction::triggered, this, &MainWindow::AlarmsRequested);

  QMenu* info = menuBar()->addMenu(QStringLiteral("&Info"));
  QAction* about = info->addAction(QStringLiteral("&About"));
  about->setObjectName(QStringLiteral("MnuAbout"));
  connect(about, &QAction::triggered, this, [this] { OpenAboutWindow(log_folder_); });
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

void MainWindow::SetPortToolTip(const QString& text) {
  for (QLabel* label : {port_label_, port_open_picture_, port_closed_picture_}) {
    label->setToolTip(text);
  }
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
  palette.setColor(QPalette::Base, ToQColor(*rgb));
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