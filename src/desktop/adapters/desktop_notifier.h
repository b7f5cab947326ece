#pragma once
// Desktop notifications through the freedesktop notification service on the
// session bus (org.freedesktop.Notifications, method Notify).

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include "views/alarm_board.h"

namespace zevrin {

inline constexpr char kNotificationService[] = "org.freedesktop.Notifications";
inline constexpr char kNotificationPath[] = "/org/freedesktop/Notifications";

/// Sends each notification without waiting for the service. A desktop without the
/// service (or without a session bus) is no fault: it is told once through
/// Unavailable, and each later notification is still offered, silently, to a
/// service that may have started since.
class DesktopNotifier final : public QObject {
  Q_OBJECT

 public:
  /// `app_name` names the program to the service.
  explicit DesktopNotifier(QString app_name, QDBusConnection bus = QDBusConnection::sessionBus(),
                           QObject* parent = nullptr);

  void Notify(const AlarmNotification& notification);
  /// False when the last notification could not be delivered.
  bool available() const { return available_; }

 Q_SIGNALS:
  /// A notification could not be delivered, for the first time; `why` says why.
  void Unavailable(const QString& why);

 private:
  void Fail(const QString& reason);

  QString app_name_;
  QDBusConnection bus_;
  bool available_ = true;
  bool told_ = false;
};

}  // namespace zevrin
