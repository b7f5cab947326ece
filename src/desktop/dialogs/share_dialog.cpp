#include "dialogs/share_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleValidator>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zevrin {

namespace {

constexpr int kUrlColumn = 0;
constexpr int kTokenColumn = 1;
constexpr int kDegreeDecimals = 6;

QString Text(const std::string& text) { return QString::fromStdString(text); }

double ReadDegrees(const QLineEdit* edit) {
  bool ok = false;
  const double value = edit->text().trimmed().toDouble(&ok);
  return ok ? value : 0.0;
}

}  // namespace

ShareDialog::ShareDialog(const ShareSettings& settings, std::string path, QWidget* parent)
    : QDialog(parent), path_(std::move(path)) {
  setObjectName(QStringLiteral("ShareDialog"));
  setWindowTitle(QStringLiteral("Share Telemetry"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      QStringLiteral("Frames of the satellite received here are sent to telemetry servers "
                     "(Simple Downlink Share Convention), with your callsign and position."),
      this);
  intro->setTextFormat(Qt::PlainText);
  intro->setWordWrap(true);
  layout->addWidget(intro);

  enabled_ = new QCheckBox(QStringLiteral("Share the satellite's frames"), this);
  enabled_->setObjectName(QStringLiteral("ShareEnabled"));
  enabled_->setChecked(settings.enabled);
  layout->addWidget(enabled_);

  auto* form = new QFormLayout;
  const ShareStation& station = settings.station;
  callsign_ = new QLineEdit(Text(station.callsign), this);
  callsign_->setObjectName(QStringLiteral("ShareCallsign"));
  callsign_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[A-Za-z0-9/-]{0,16}")), callsign_));
  latitude_ = new QLineEdit(QString::number(station.latitude, 'f', kDegreeDecimals), this);
  latitude_->setObjectName(QStringLiteral("ShareLatitude"));
  auto* lat_check = new QDoubleValidator(-90.0, 90.0, 8, latitude_);
  lat_check->setLocale(QLocale::c());
  latitude_->setValidator(lat_check);
  longitude_ = new QLineEdit(QString::number(station.longitude, 'f', kDegreeDecimals), this);
  longitude_->setObjectName(QStringLiteral("ShareLongitude"));
  auto* lon_check = new QDoubleValidator(-180.0, 180.0, 8, longitude_);
  lon_check->setLocale(QLocale::c());
  longitude_->setValidator(lon_check);
  norad_ =
      new QLineEdit(station.norad_id == 0 ? QString() : QString::number(station.norad_id), this);
  norad_->setObjectName(QStringLiteral("ShareNorad"));
  norad_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), norad_));
  form->addRow(QStringLiteral("Callsign:"), callsign_);
  form->addRow(QStringLiteral("Latitude (decimal degrees, north +):"), latitude_);
  form->addRow(QStringLiteral("Longitude (decimal degrees, east +):"), longitude_);
  form->addRow(QStringLiteral("Satellite's NORAD number:"), norad_);
  layout->addLayout(form);

  auto* servers_label = new QLabel(QStringLiteral("Servers:"), this);
  layout->addWidget(servers_label);
  servers_ = new QTableWidget(0, 2, this);
  servers_->setObjectName(QStringLiteral("ShareServers"));
  servers_->setHorizontalHeaderLabels({QStringLiteral("Address"), QStringLiteral("API token")});
  servers_->horizontalHeader()->setSectionResizeMode(kUrlColumn, QHeaderView::Stretch);
  servers_->horizontalHeader()->setSectionResizeMode(kTokenColumn, QHeaderView::Interactive);
  servers_->setColumnWidth(kTokenColumn, 180);
  servers_->verticalHeader()->setVisible(false);
  servers_->setMinimumWidth(560);
  servers_->setMinimumHeight(110);
  for (const ShareServer& server : settings.servers)
    AddServer(Text(server.url), Text(server.token));
  layout->addWidget(servers_);

  auto* buttons_row = new QHBoxLayout;
  auto* add_preset = new QPushButton(QStringLiteral("Add SatNOGS DB"), this);
  auto* add_other = new QPushButton(QStringLiteral("Add server"), this);
  auto* remove = new QPushButton(QStringLiteral("Remove"), this);
  add_preset->setObjectName(QStringLiteral("ShareAddPreset"));
  add_other->setObjectName(QStringLiteral("ShareAddServer"));
  remove->setObjectName(QStringLiteral("ShareRemoveServer"));
  buttons_row->addWidget(add_preset);
  buttons_row->addWidget(add_other);
  buttons_row->addWidget(remove);
  buttons_row->addStretch(1);
  layout->addLayout(buttons_row);
  connect(add_preset, &QPushButton::clicked, this,
          [this] { AddServer(Text(std::string(kSatnogsDbUrl)), QString()); });
  connect(add_other, &QPushButton::clicked, this, [this] {
    AddServer(QStringLiteral("https://"), QString());
    servers_->editItem(servers_->item(servers_->rowCount() - 1, kUrlColumn));
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    if (servers_->currentRow() >= 0) servers_->removeRow(servers_->currentRow());
    UpdateReason();
  });

  reason_ = new QLabel(this);
  reason_->setObjectName(QStringLiteral("ShareReason"));
  reason_->setTextFormat(Qt::PlainText);
  reason_->setWordWrap(true);
  layout->addWidget(reason_);

  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(box);
  connect(box, &QDialogButtonBox::accepted, this, &ShareDialog::Accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);

  connect(enabled_, &QCheckBox::toggled, this, &ShareDialog::UpdateReason);
  for (QLineEdit* edit : {callsign_, latitude_, longitude_, norad_})
    connect(edit, &QLineEdit::textChanged, this, &ShareDialog::UpdateReason);
  connect(servers_, &QTableWidget::itemChanged, this, &ShareDialog::UpdateReason);
  UpdateReason();
}

void ShareDialog::AddServer(const QString& url, const QString& token) {
  const int row = servers_->rowCount();
  servers_->insertRow(row);
  servers_->setItem(row, kUrlColumn, new QTableWidgetItem(url));
  servers_->setItem(row, kTokenColumn, new QTableWidgetItem(token));
  UpdateReason();
}

ShareSettings ShareDialog::Chosen() const {
  ShareSettings settings;
  settings.enabled = enabled_->isChecked();
  settings.station.callsign = callsign_->text().trimmed().toUpper().toStdString();
  settings.station.latitude = ReadDegrees(latitude_);
  settings.station.longitude = ReadDegrees(longitude_);
  settings.station.norad_id = norad_->text().toUInt();
  settings.servers.clear();
  for (int row = 0; row < servers_->rowCount(); ++row) {
    const QTableWidgetItem* url = servers_->item(row, kUrlColumn);
    const QTableWidgetItem* token = servers_->item(row, kTokenColumn);
    const QString address = url != nullptr ? url->text().trimmed() : QString();
    if (address.isEmpty()) continue;
    settings.servers.push_back(
        {address.toStdString(), token != nullptr ? token->text().trimmed().toStdString() : ""});
  }
  return settings;
}

void ShareDialog::UpdateReason() {
  if (reason_ == nullptr) return;
  const std::optional<std::string> reason = SharingOffReason(Chosen());
  reason_->setText(reason ? QStringLiteral("Nothing is shared: ") + Text(*reason)
                          : QStringLiteral("The satellite's frames are shared."));
}

void ShareDialog::Accept() {
  const ShareSettings settings = Chosen();
  if (const std::optional<std::string> failure = WriteShareSettings(path_, settings)) {
    auto* box = new QMessageBox(
        QMessageBox::Warning, windowTitle(),
        QStringLiteral("The sharing settings could not be written:\n") + Text(*failure),
        QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return;
  }
  emit Saved(settings);
  accept();
}

}  // namespace zevrin
