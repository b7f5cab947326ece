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
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "widgets/qt_text.h"
#include "widgets/warning_box.h"

namespace zevrin {

namespace {

constexpr int kUrlColumn = 0;
constexpr int kTokenColumn = 1;
constexpr int kTokenColumnWidth = 180;
constexpr int kServersLeastWidth = 560;
constexpr int kServersLeastHeight = 110;
constexpr int kDegreeDecimals = 6;
// Digits the degree fields accept.
constexpr int kDegreeInputDecimals = 8;
constexpr double kMostLatitude = 90.0;
constexpr double kMostLongitude = 180.0;
constexpr char kCallsignPattern[] = "[A-Za-z0-9/-]{0,16}";
constexpr char kNoradPattern[] = "[0-9]{0,9}";

double ReadDegrees(const QLineEdit* edit) {
  bool ok = false;
  const double value = edit->text().trimmed().toDouble(&ok);
  return ok ? value : 0.0;
}

// A line that accepts only what matches `pattern`.
QLineEdit* PatternEdit(QWidget* parent, const char* name, const QString& text,
                       const char* pattern) {
  auto* edit = new QLineEdit(text, parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(pattern)), edit));
  return edit;
}

// A line for decimal degrees from -`most` to `most`, with a point as the decimal
// separator whatever the locale.
QLineEdit* DegreeEdit(QWidget* parent, const char* name, double degrees, double most) {
  auto* edit = new QLineEdit(QString::number(degrees, 'f', kDegreeDecimals), parent);
  edit->setObjectName(QString::fromLatin1(name));
  auto* check = new QDoubleValidator(-most, most, kDegreeInputDecimals, edit);
  check->setLocale(QLocale::c());
  edit->setValidator(check);
  return edit;
}

QString Bullets(const QString& token) {
  static constexpr QChar kBullet = QChar(0x2022);
  return QString(token.size(), kBullet);
}

QString AddressShown(const QString& url) { return FromUtf8(WithoutPassword(url.toStdString())); }

// A column that shows its texts masked (an API token as bullets, an address without
// its password) while its items keep them whole for the settings file. A token is
// typed unseen too.
class MaskingDelegate final : public QStyledItemDelegate {
 public:
  MaskingDelegate(QString (*shown)(const QString&), QLineEdit::EchoMode echo, QObject* parent)
      : QStyledItemDelegate(parent), shown_(shown), echo_(echo) {}
  QString displayText(const QVariant& value, const QLocale&) const override {
    return shown_(value.toString());
  }
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setEchoMode(echo_);
    return editor;
  }

 private:
  QString (*shown_)(const QString&);
  QLineEdit::EchoMode echo_;
};

QLabel* IntroLabel(QWidget* parent) {
  auto* intro = new QLabel(
      QStringLiteral("Frames of the satellite received here are sent to telemetry servers "
                     "(Simple Downlink Share Convention), with your callsign and position."),
      parent);
  intro->setTextFormat(Qt::PlainText);
  intro->setWordWrap(true);
  return intro;
}

// What the reader of the settings file left out, before "OK" drops it for good.
QLabel* LeftOutLabel(const std::vector<std::string>& left_out, QWidget* parent) {
  QString text = QStringLiteral("Not all of the settings file was read:");
  for (const std::string& sentence : left_out) text += ' ' + QString::fromStdString(sentence);
  text += QStringLiteral(" OK writes the settings as shown here.");
  auto* label = new QLabel(text, parent);
  label->setObjectName(QStringLiteral("ShareLeftOut"));
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  return label;
}

}  // namespace

ShareDialog::ShareDialog(const ShareSettings& settings, std::string path, QWidget* parent,
                         const std::vector<std::string>& left_out)
    : QDialog(parent), path_(std::move(path)) {
  setObjectName(QStringLiteral("ShareDialog"));
  setWindowTitle(QStringLiteral("Share Telemetry"));
  setAttribute(Qt::WA_DeleteOnClose);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(IntroLabel(this));
  if (!left_out.empty()) layout->addWidget(LeftOutLabel(left_out, this));
  enabled_ = new QCheckBox(QStringLiteral("Share the satellite's frames"), this);
  enabled_->setObjectName(QStringLiteral("ShareEnabled"));
  enabled_->setChecked(settings.enabled);
  layout->addWidget(enabled_);
  layout->addLayout(BuildStationForm(settings.station));
  layout->addWidget(new QLabel(QStringLiteral("Servers:"), this));
  layout->addWidget(BuildServerTable(settings.servers));
  layout->addLayout(BuildServerButtons());

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

QFormLayout* ShareDialog::BuildStationForm(const ShareStation& station) {
  auto* form = new QFormLayout;
  callsign_ = PatternEdit(this, "ShareCallsign", FromUtf8(station.callsign), kCallsignPattern);
  latitude_ = DegreeEdit(this, "ShareLatitude", station.latitude, kMostLatitude);
  longitude_ = DegreeEdit(this, "ShareLongitude", station.longitude, kMostLongitude);
  norad_ = PatternEdit(this, "ShareNorad",
                       station.norad_id == 0 ? QString() : QString::number(station.norad_id),
                       kNoradPattern);
  form->addRow(QStringLiteral("Callsign:"), callsign_);
  form->addRow(QStringLiteral("Latitude (decimal degrees, north +):"), latitude_);
  form->addRow(QStringLiteral("Longitude (decimal degrees, east +):"), longitude_);
  form->addRow(QStringLiteral("Satellite's NORAD number:"), norad_);
  return form;
}

QTableWidget* ShareDialog::BuildServerTable(const std::vector<ShareServer>& servers) {
  servers_ = new QTableWidget(0, 2, this);
  servers_->setObjectName(QStringLiteral("ShareServers"));
  servers_->setHorizontalHeaderLabels({QStringLiteral("Address"), QStringLiteral("API token")});
  servers_->horizontalHeader()->setSectionResizeMode(kUrlColumn, QHeaderView::Stretch);
  servers_->horizontalHeader()->setSectionResizeMode(kTokenColumn, QHeaderView::Interactive);
  servers_->setColumnWidth(kTokenColumn, kTokenColumnWidth);
  servers_->setItemDelegateForColumn(
      kUrlColumn, new MaskingDelegate(AddressShown, QLineEdit::Normal, servers_));
  servers_->setItemDelegateForColumn(kTokenColumn,
                                     new MaskingDelegate(Bullets, QLineEdit::Password, servers_));
  servers_->verticalHeader()->setVisible(false);
  servers_->setMinimumWidth(kServersLeastWidth);
  servers_->setMinimumHeight(kServersLeastHeight);
  for (const ShareServer& server : servers) AddServer(FromUtf8(server.url), FromUtf8(server.token));
  return servers_;
}

QHBoxLayout* ShareDialog::BuildServerButtons() {
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
  connect(add_preset, &QPushButton::clicked, this,
          [this] { AddServer(FromUtf8(kSatnogsDbUrl), QString()); });
  connect(add_other, &QPushButton::clicked, this, [this] {
    AddServer(QStringLiteral("https://"), QString());
    servers_->editItem(servers_->item(servers_->rowCount() - 1, kUrlColumn));
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    if (servers_->currentRow() >= 0) servers_->removeRow(servers_->currentRow());
    UpdateReason();
  });
  return buttons_row;
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
  reason_->setText(reason ? QStringLiteral("Nothing is shared: ") + FromUtf8(*reason)
                          : QStringLiteral("The satellite's frames are shared."));
}

void ShareDialog::Accept() {
  const ShareSettings settings = Chosen();
  if (const std::optional<std::string> failure = WriteShareSettings(path_, settings)) {
    OpenWarning(
        this, QStringLiteral("The sharing settings could not be written:\n") + FromUtf8(*failure));
    return;
  }
  emit Saved(settings);
  accept();
}

}  // namespace zevrin
