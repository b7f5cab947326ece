#include "adapters/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace zevrin {

namespace {

constexpr char kNotifyMethod[] = "Notify";
constexpr int kServerDefaultTimeout = -1;

}  // namespace

DesktopNotifier::DesktopNotifier(QString app_name, QDBusConnection bus, QObject* parent)
    : QObject(parent), app_name_(std::move(app_name)), bus_(std::move(bus)) {}

void DesktopNotifier::Notify(const AlarmNotification& notification) {
  if (!bus_.isConnected()) {
    Fail(QStringLiteral("no session bus"));
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QLatin1String(kNotificationService), QLatin1String(kNotificationPath),
      QLatin1String(kNotificationService), QLatin1String(kNotifyMethod));
  QVariantMap hints;
  // The service reads the urgency as a byte.
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(notification.urgency));
  call << app_name_ << 0u << QString() << QString::fromStdString(notification.summary)
       << QString::fromStdString(notification.body) << QStringList() << hints
       << kServerDefaultTimeout;
  // Not waited for: a slow or absent service never holds up reception.
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    if (w->isError()) {
      Fail(w->error().message());
    } else {
      available_ = true;
    }
    w->deleteLater();
  });
}

void DesktopNotifier::Fail(const QString& reason) {
  available_ = false;
  if (told_) return;
  told_ = true;
  Q_EMIT Unavailable(reason);
}

}  // namespace zevrin
