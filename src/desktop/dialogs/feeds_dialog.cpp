#include "dialogs/feeds_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QVBoxLayout>

#include "dialogs/influx_box.h"
#include "outputs/kiss_server/kiss_server.h"
#include "outputs/mqtt/mqtt_messages.h"
#include "widgets/qt_text.h"
#include "widgets/warning_box.h"

namespace zevrin {

namespace {

constexpr int kFieldsLeastWidth = 320;
constexpr int kMostPort = 65535;

QLabel* TextLabel(const QString& text, QWidget* parent, const char* name = nullptr) {
  auto* label = new QLabel(text, parent);
  if (name != nullptr) label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  return label;
}

QLineEdit* Edit(const std::string& text, QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(FromUtf8(text), parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setMinimumWidth(kFieldsLeastWidth);
  return edit;
}

std::string Text(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

}  // namespace

FeedsDialog::FeedsDialog(const FeedSettings& settings, std::string path, std::string station,
                         QWidget* parent, const std::vector<std::string>& problems)
    : QDialog(parent), settings_(settings), path_(std::move(path)), station_(std::move(station)) {
  setObjectName(QStringLiteral("FeedsDialog"));
  setWindowTitle(QStringLiteral("Network Feeds"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      TextLabel(QStringLiteral("Every frame received here can be passed on over the network as it "
                               "comes: to dashboards through an MQTT broker, to other programs "
                               "that read KISS over TCP, and its housekeeping into an InfluxDB "
                               "database."),
                this));
  if (!problems.empty()) {
    QString text = QStringLiteral("Not all of the settings file was read:");
    for (const std::string& problem : problems) text += QLatin1Char('\n') + FromUtf8(problem);
    text += QStringLiteral("\nOK writes the settings as shown here.");
    layout->addWidget(TextLabel(text, this, "FeedsLeftOut"));
  }
  groups_ = new QVBoxLayout;
  groups_->setObjectName(QStringLiteral("FeedGroups"));
  groups_->addWidget(BuildMqttGroup(settings.mqtt));
  groups_->addWidget(BuildKissServerGroup(settings.kiss_server));
  influx_ = new InfluxBox(settings.influx, this);
  groups_->addWidget(influx_);
  layout->addLayout(groups_);

  problem_ = TextLabel(QString(), this, "FeedsProblem");
  problem_->hide();
  layout->addWidget(problem_);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(box);
  connect(box, &QDialogButtonBox::accepted, this, &FeedsDialog::Accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QGroupBox* FeedsDialog::BuildMqttGroup(const MqttSettings& mqtt) {
  mqtt_ = new QGroupBox(QStringLiteral("Publish to an MQTT broker"), this);
  mqtt_->setObjectName(QStringLiteral("FeedsMqtt"));
  mqtt_->setCheckable(true);
  mqtt_->setChecked(mqtt.enabled);
  auto* form = new QFormLayout(mqtt_);
  mqtt_host_ = Edit(mqtt.host, mqtt_, "FeedsMqttHost");
  mqtt_host_->setPlaceholderText(QStringLiteral("broker.example.org"));
  mqtt_port_ = new QSpinBox(mqtt_);
  mqtt_port_->setObjectName(QStringLiteral("FeedsMqttPort"));
  mqtt_port_->setRange(1, kMostPort);
  mqtt_port_->setValue(mqtt.port);
  mqtt_user_ = Edit(mqtt.user, mqtt_, "FeedsMqttUser");
  mqtt_user_->setPlaceholderText(QStringLiteral("none"));
  mqtt_password_ = Edit(mqtt.password, mqtt_, "FeedsMqttPassword");
  mqtt_password_->setEchoMode(QLineEdit::Password);
  mqtt_tls_ = new QCheckBox(QStringLiteral("Encrypt with TLS"), mqtt_);
  mqtt_tls_->setObjectName(QStringLiteral("FeedsMqttTls"));
  mqtt_tls_->setChecked(mqtt.tls);
  mqtt_ca_file_ = Edit(mqtt.ca_file, mqtt_, "FeedsMqttCaFile");
  mqtt_ca_file_->setPlaceholderText(QStringLiteral("the system's certificate authorities"));
  form->addRow(QStringLiteral("Broker host:"), mqtt_host_);
  form->addRow(QStringLiteral("Port:"), mqtt_port_);
  form->addRow(QStringLiteral("User:"), mqtt_user_);
  form->addRow(QStringLiteral("Password:"), mqtt_password_);
  form->addRow(QString(), mqtt_tls_);
  form->addRow(QStringLiteral("CA file:"), mqtt_ca_file_);
  form->addRow(TextLabel(QStringLiteral("Topics: ") + FromUtf8(MqttTopic(station_, "")) +
                             QStringLiteral("power_housekeeping, system_housekeeping, frames "
                                            "and status"),
                         mqtt_, "FeedsMqttTopics"));
  // The usual port of each: a port the user changed stays.
  connect(mqtt_tls_, &QCheckBox::toggled, this, [this](bool tls) {
    if (mqtt_port_->value() == (tls ? kMqttPort : kMqttTlsPort))
      mqtt_port_->setValue(tls ? kMqttTlsPort : kMqttPort);
  });
  return mqtt_;
}

QGroupBox* FeedsDialog::BuildKissServerGroup(const KissServerSettings& kiss) {
  kiss_ = new QGroupBox(QStringLiteral("Serve KISS to other programs"), this);
  kiss_->setObjectName(QStringLiteral("FeedsKissServer"));
  kiss_->setCheckable(true);
  kiss_->setChecked(kiss.enabled);
  auto* form = new QFormLayout(kiss_);
  kiss_address_ = Edit(kiss.address, kiss_, "FeedsKissAddress");
  form->addRow(QStringLiteral("Listen on [host:]port:"), kiss_address_);
  form->addRow(TextLabel(QStringLiteral("Every frame received goes, as received, to each program "
                                        "connected here. A port alone listens on this "
                                        "computer only (127.0.0.1)."),
                         kiss_));
  return kiss_;
}

FeedSettings FeedsDialog::Chosen() const {
  FeedSettings settings = settings_;
  MqttSettings& mqtt = settings.mqtt;
  mqtt.enabled = mqtt_->isChecked();
  mqtt.host = Text(mqtt_host_);
  mqtt.port = static_cast<std::uint16_t>(mqtt_port_->value());
  mqtt.user = Text(mqtt_user_);
  mqtt.password = mqtt_password_->text().toStdString();  // blanks may be part of it
  mqtt.tls = mqtt_tls_->isChecked();
  mqtt.ca_file = Text(mqtt_ca_file_);
  settings.kiss_server.enabled = kiss_->isChecked();
  settings.kiss_server.address = Text(kiss_address_);
  settings.influx = influx_->Chosen();
  return settings;
}

std::optional<std::string> FeedsDialog::Problem() const {
  const FeedSettings s = Chosen();
  if (s.mqtt.enabled && s.mqtt.host.empty()) return "The MQTT broker needs a host.";
  if (!s.mqtt.password.empty() && s.mqtt.user.empty()) return "An MQTT password needs a user name.";
  if (s.kiss_server.enabled && !ParseListenAddress(s.kiss_server.address))
    return "The KISS server needs a port from 1 to 65535, as PORT or HOST:PORT.";
  if (const QString influx = influx_->Problem(); !influx.isEmpty())
    return "The InfluxDB feed cannot send with these settings: " + influx.toStdString();
  return std::nullopt;
}

void FeedsDialog::Accept() {
  if (const std::optional<std::string> problem = Problem()) {
    problem_->setText(FromUtf8(*problem));
    problem_->show();
    return;
  }
  const FeedSettings settings = Chosen();
  if (const std::optional<std::string> failure = WriteFeedSettings(path_, settings)) {
    OpenWarning(this,
                QStringLiteral("The feeds settings could not be written:\n") + FromUtf8(*failure));
    return;
  }
  emit Saved(settings);
  accept();
}

}  // namespace zevrin
