#include "dialogs/influx_box.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "widgets/qt_text.h"

namespace zevrin {

namespace {

constexpr int kLeastUrlWidth = 420;

QLineEdit* Line(QWidget* parent, const char* name, const std::string& text,
                QLineEdit::EchoMode echo = QLineEdit::Normal) {
  auto* edit = new QLineEdit(FromUtf8(text), parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setEchoMode(echo);
  return edit;
}

}  // namespace

InfluxBox::InfluxBox(const InfluxSettings& settings, QWidget* parent)
    : QGroupBox(QStringLiteral("Send housekeeping to InfluxDB"), parent) {
  setObjectName(QStringLiteral("InfluxBox"));
  setCheckable(true);
  setChecked(settings.enabled);
  url_ = Line(this, "InfluxUrl", settings.url);
  url_->setPlaceholderText(QStringLiteral("http://127.0.0.1:8086/write?db=tarvelo"));
  url_->setMinimumWidth(kLeastUrlWidth);
  user_ = Line(this, "InfluxUser", settings.user);
  password_ = Line(this, "InfluxPassword", settings.password, QLineEdit::Password);
  token_ = Line(this, "InfluxToken", settings.token, QLineEdit::Password);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Write address:"), url_);
  form->addRow(QStringLiteral("User (1.x):"), user_);
  form->addRow(QStringLiteral("Password (1.x):"), password_);
  form->addRow(QStringLiteral("API token (2.x):"), token_);
  auto* hint = new QLabel(
      QStringLiteral("InfluxDB 1.x: http://host:8086/write?db=NAME\n"
                     "InfluxDB 2.x: http://host:8086/api/v2/write?org=ORG&bucket=BUCKET\n"
                     "Every record waits in the archive until the database has it."),
      this);
  hint->setObjectName(QStringLiteral("InfluxHint"));
  problem_ = new QLabel(this);
  problem_->setObjectName(QStringLiteral("InfluxProblem"));
  problem_->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(hint);
  layout->addWidget(problem_);
  for (QLineEdit* edit : {url_, user_, password_, token_})
    connect(edit, &QLineEdit::textChanged, this, &InfluxBox::UpdateProblem);
  connect(this, &QGroupBox::toggled, this, &InfluxBox::UpdateProblem);
  UpdateProblem();
}

InfluxSettings InfluxBox::Chosen() const {
  InfluxSettings settings;
  settings.enabled = isChecked();
  settings.url = url_->text().trimmed().toStdString();
  settings.user = user_->text().toStdString();
  settings.password = password_->text().toStdString();
  settings.token = token_->text().toStdString();
  return settings;
}

QString InfluxBox::Problem() const {
  const InfluxSettings settings = Chosen();
  std::string error;
  if (!settings.enabled || InfluxTargetOf(settings, error)) return {};
  return FromUtf8(error);
}

void InfluxBox::UpdateProblem() {
  const QString problem = Problem();
  problem_->setText(problem);
  problem_->setVisible(!problem.isEmpty());
}

}  // namespace zevrin
