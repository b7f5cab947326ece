#include "dialogs/setup_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <optional>
#include <utility>

#include "config/settings_file.h"
#include "widgets/qt_text.h"
#include "widgets/warning_box.h"

namespace zevrin {

namespace {

constexpr const char* kPortEntries[] = {"COM01", "COM02", "COM03", "COM04", "COM05", "COM06",
                                        "COM07", "COM08", "COM09", "COM10", "COM11", "COM12",
                                        "COM13", "COM14", "COM15", "COM16"};
constexpr const char* kSpeedEntries[] = {"115200", "57600", "38400", "19200",
                                         "9600",   "4800",  "1200"};
constexpr const char* kDataEntries[] = {"8", "7"};
constexpr const char* kParityEntries[] = {"N", "E", "O"};
constexpr const char* kStopEntries[] = {"1", "2"};
// Offered for KISS over TCP when the serial port is in force.
constexpr const char* kDefaultTcpHost = "localhost";

QComboBox* MakeList(QWidget* parent, const char* object_name, const auto& entries) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(object_name));
  for (const char* entry : entries) list->addItem(QString::fromLatin1(entry));
  return list;
}

// Selects `value`, adding it to the list first when it is not there; an empty
// value selects `fallback`.
void Select(QComboBox* list, const std::string& value, const char* fallback) {
  const QString text = value.empty() ? QString::fromLatin1(fallback) : FromUtf8(value);
  int index = list->findText(text);
  if (index < 0) {
    list->addItem(text);
    index = list->count() - 1;
  }
  list->setCurrentIndex(index);
}

}  // namespace

SetupDialog::SetupDialog(SetupValues values, QWidget* parent)
    : QDialog(parent), values_(std::move(values)) {
  setObjectName(QStringLiteral("SetupDialog"));
  setWindowTitle(QStringLiteral(" Setup COM - TNC"));
  setModal(false);
  setAttribute(Qt::WA_DeleteOnClose);
  MakeControls();
  LayOut();
  ShowSettingsInForce();
  connect(serial_choice_, &QRadioButton::toggled, this, &SetupDialog::FollowChoice);
  FollowChoice();
}

void SetupDialog::MakeControls() {
  port_list_ = MakeList(this, "PortList", kPortEntries);
  speed_list_ = MakeList(this, "SpeedList", kSpeedEntries);
  data_list_ = MakeList(this, "DataList", kDataEntries);
  parity_list_ = MakeList(this, "ParityList", kParityEntries);
  stop_list_ = MakeList(this, "StopList", kStopEntries);

  serial_choice_ = new QRadioButton(QStringLiteral("Serial port (hardware TNC)"), this);
  serial_choice_->setObjectName(QStringLiteral("SerialChoice"));
  tcp_choice_ = new QRadioButton(QStringLiteral("KISS over TCP (software TNC)"), this);
  tcp_choice_->setObjectName(QStringLiteral("TcpChoice"));
  auto* choice = new QButtonGroup(this);
  choice->addButton(serial_choice_);
  choice->addButton(tcp_choice_);

  host_edit_ = new QLineEdit(this);
  host_edit_->setObjectName(QStringLiteral("TcpHost"));
  tcp_port_list_ = new QComboBox(this);
  tcp_port_list_->setObjectName(QStringLiteral("TcpPort"));
  tcp_port_list_->setEditable(true);
  tcp_port_list_->setValidator(
      new QIntValidator(1, static_cast<int>(kHighestTcpPort), tcp_port_list_));
  for (const std::uint16_t port : kCommonKissPorts) tcp_port_list_->addItem(QString::number(port));
}

// The serial choice over its five lists with their captions, the TCP choice over
// host and port, and "ok" and "Cancel" at the bottom right.
void SetupDialog::LayOut() {
  auto* layout = new QGridLayout(this);
  layout->addWidget(serial_choice_, 0, 0, 1, 5);
  const std::pair<const char*, QComboBox*> columns[] = {{"Port:", port_list_},
                                                        {"Baud:", speed_list_},
                                                        {"Data:", data_list_},
                                                        {"Parity:", parity_list_},
                                                        {"Stop:", stop_list_}};
  int column = 0;
  for (const auto& [caption, list] : columns) {
    layout->addWidget(new QLabel(QString::fromLatin1(caption), this), 1, column);
    layout->addWidget(list, 2, column);
    ++column;
  }
  layout->addWidget(tcp_choice_, 3, 0, 1, 5);
  layout->addWidget(new QLabel(QStringLiteral("Host:"), this), 4, 0, 1, 3);
  layout->addWidget(host_edit_, 5, 0, 1, 3);
  layout->addWidget(new QLabel(QStringLiteral("TCP port:"), this), 4, 3, 1, 2);
  layout->addWidget(tcp_port_list_, 5, 3, 1, 2);
  auto* ok = new QPushButton(QStringLiteral("ok"), this);
  ok->setObjectName(QStringLiteral("Command1"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("Command2"));
  layout->addWidget(ok, 6, 3);
  layout->addWidget(cancel, 6, 4);
  connect(ok, &QPushButton::clicked, this, &SetupDialog::Accept);
  connect(cancel, &QPushButton::clicked, this, &SetupDialog::Cancel);
}

// The settings in force, so that "ok" without changes keeps them.
void SetupDialog::ShowSettingsInForce() {
  const LineSettings in_force = SplitLineSettings(values_.line_settings);
  Select(port_list_, PortEntryText(values_.port_number), "COM01");
  Select(speed_list_, in_force.speed, "9600");
  Select(data_list_, in_force.data_bits, "8");
  Select(parity_list_, in_force.parity, "N");
  Select(stop_list_, in_force.stop_bits, "1");
  const TcpAddress tcp = values_.tcp.value_or(TcpAddress{kDefaultTcpHost, kCommonKissPorts[0]});
  host_edit_->setText(FromUtf8(tcp.host));
  Select(tcp_port_list_, std::to_string(tcp.port), "");
  (values_.tcp ? tcp_choice_ : serial_choice_)->setChecked(true);
}

void SetupDialog::FollowChoice() {
  const bool serial = serial_choice_->isChecked();
  for (QWidget* w : {port_list_, speed_list_, data_list_, parity_list_, stop_list_}) {
    w->setEnabled(serial);
  }
  host_edit_->setEnabled(!serial);
  tcp_port_list_->setEnabled(!serial);
}

std::optional<TcpAddress> SetupDialog::ChosenTcpAddress() const {
  return ParseTcpEntry(host_edit_->text().toStdString(),
                       tcp_port_list_->currentText().toStdString());
}

std::string SetupDialog::ChosenSettingsLine() const {
  if (tcp_choice_->isChecked()) {
    const std::optional<TcpAddress> address = ChosenTcpAddress();
    return address ? TcpSettingsLine(*address) : std::string();
  }
  LineSettings choice;
  choice.speed = speed_list_->currentText().toStdString();
  choice.parity = parity_list_->currentText().toStdString();
  choice.data_bits = data_list_->currentText().toStdString();
  choice.stop_bits = stop_list_->currentText().toStdString();
  return BuildSettingsLine(port_list_->currentText().toStdString(), choice);
}

void SetupDialog::ShowProblem(const char* name, const QString& message) {
  // The dialog stays open for another try.
  OpenWarning(this, message)->setObjectName(QString::fromLatin1(name));
}

void SetupDialog::Accept() {
  const std::string line = ChosenSettingsLine();
  if (line.empty()) {
    ShowProblem("TcpAddressError",
                FromUtf8(TcpEntryProblem(host_edit_->text().toStdString(),
                                         tcp_port_list_->currentText().toStdString())));
    return;
  }
  const SettingsLines lines{line, values_.time_server_host, values_.station_label};
  if (const std::optional<std::string> error = WriteSettingsFile(values_.settings_file, lines)) {
    ShowProblem("SettingsWriteError", QStringLiteral("The settings file %1 cannot be written: %2")
                                          .arg(FromUtf8(values_.settings_file), FromUtf8(*error)));
    return;
  }
  close();
  Q_EMIT RestartRequested();
}

void SetupDialog::Cancel() { close(); }

}  // namespace zevrin
