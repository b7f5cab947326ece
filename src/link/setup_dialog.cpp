#include "link/setup_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <optional>
#include <utility>

#include "link/settings_file.h"

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

QComboBox* MakeList(QWidget* parent, const char* object_name, const auto& entries) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(object_name));
  for (const char* entry : entries) list->addItem(QString::fromLatin1(entry));
  return list;
}

// Selects `value`, adding it to the list first when it is not there; an empty
// value selects `fallback`.
void Select(QComboBox* list, const std::string& value, const char* fallback) {
  const QString text =
      value.empty() ? QString::fromLatin1(fallback) : QString::fromStdString(value);
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

  port_list_ = MakeList(this, "PortList", kPortEntries);
  speed_list_ = MakeList(this, "SpeedList", kSpeedEntries);
  data_list_ = MakeList(this, "DataList", kDataEntries);
  parity_list_ = MakeList(this, "ParityList", kParityEntries);
  stop_list_ = MakeList(this, "StopList", kStopEntries);

  auto* layout = new QGridLayout(this);
  const std::pair<const char*, QComboBox*> columns[] = {{"Port:", port_list_},
                                                        {"Baud:", speed_list_},
                                                        {"Data:", data_list_},
                                                        {"Parity:", parity_list_},
                                                        {"Stop:", stop_list_}};
  int column = 0;
  for (const auto& [caption, list] : columns) {
    layout->addWidget(new QLabel(QString::fromLatin1(caption), this), 0, column);
    layout->addWidget(list, 1, column);
    ++column;
  }
  auto* ok = new QPushButton(QStringLiteral("ok"), this);
  ok->setObjectName(QStringLiteral("Command1"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("Command2"));
  layout->addWidget(ok, 2, 3);
  layout->addWidget(cancel, 2, 4);
  connect(ok, &QPushButton::clicked, this, &SetupDialog::Command1_Click);
  connect(cancel, &QPushButton::clicked, this, &SetupDialog::Command2_Click);

  // The settings in force, so that "ok" without changes keeps them.
  const LineSettings in_force = SplitLineSettings(values_.line_settings);
  Select(port_list_, PortEntryText(values_.port_number), "COM01");
  Select(speed_list_, in_force.speed, "9600");
  Select(data_list_, in_force.data_bits, "8");
  Select(parity_list_, in_force.parity, "N");
  Select(stop_list_, in_force.stop_bits, "1");
}

std::string SetupDialog::ChosenSettingsLine() const {
  LineSettings choice;
  choice.speed = speed_list_->currentText().toStdString();
  choice.parity = parity_list_->currentText().toStdString();
  choice.data_bits = data_list_->currentText().toStdString();
  choice.stop_bits = stop_list_->currentText().toStdString();
  return BuildSettingsLine(port_list_->currentText().toStdString(), choice);
}

void SetupDialog::Command1_Click() {
  const SettingsLines lines{ChosenSettingsLine(), values_.time_server_host, values_.station_label};
  if (const std::optional<std::string> error = WriteSettingsFile(values_.settings_file, lines)) {
    const QString message =
        QStringLiteral("The settings file %1 cannot be written: %2")
            .arg(QString::fromStdString(values_.settings_file), QString::fromStdString(*error));
    auto* box =
        new QMessageBox(QMessageBox::Warning, windowTitle(), message, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("SettingsWriteError"));
    box->setTextFormat(Qt::PlainText);  // the path and the reason are shown as they are
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();  // does not wait; the dialog stays open for another try
    return;
  }
  close();
  Q_EMIT RestartRequested();
}

void SetupDialog::Command2_Click() { close(); }

}  // namespace zevrin
