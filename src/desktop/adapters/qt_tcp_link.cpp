#include "adapters/qt_tcp_link.h"

#include <QByteArray>

namespace zevrin {

QtTcpLink::QtTcpLink(QObject* parent) : QObject(parent) {
  clock_.start();
  retry_.setSingleShot(true);
  attempt_timeout_.setSingleShot(true);
  connect(&retry_, &QTimer::timeout, this, &QtTcpLink::Attempt);
  connect(&attempt_timeout_, &QTimer::timeout, this, [this] {
    Fail(QStringLiteral("no answer within %1 s").arg(ReconnectSchedule::kRetryIntervalMs / 1000));
  });
  connect(&socket_, &QTcpSocket::connected, this, &QtTcpLink::OnConnected);
  connect(&socket_, &QTcpSocket::readyRead, this, [this] { Q_EMIT CommEvent(2); });
  connect(&socket_, &QTcpSocket::disconnected, this,
          [this] { Fail(QStringLiteral("closed by the server")); });
  connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
    Fail(error == QAbstractSocket::RemoteHostClosedError ? QStringLiteral("closed by the server")
                                                         : socket_.errorString());
  });
}

QtTcpLink::~QtTcpLink() {
  // With the signals cut, closing here reaches no receiver that is already gone.
  socket_.disconnect(this);
  socket_.abort();
}

void QtTcpLink::Connect(const TcpAddress& address) {
  Close();
  address_ = address;
  schedule_.emplace(address);
  // From the event loop, so the caller's start-up is never re-entered by a
  // failure Qt reports at once.
  retry_.start(0);
}

void QtTcpLink::Close() {
  live_ = false;
  retry_.stop();
  attempt_timeout_.stop();
  socket_.abort();
}

bool QtTcpLink::IsOpen() const { return socket_.state() == QAbstractSocket::ConnectedState; }

std::vector<std::uint8_t> QtTcpLink::ReadAll() {
  const QByteArray data = socket_.readAll();
  return std::vector<std::uint8_t>(data.begin(), data.end());
}

void QtTcpLink::Attempt() {
  if (!address_ || !schedule_) return;
  socket_.abort();  // what is left of the last attempt, before it can count as a failure
  schedule_->AttemptStarted(clock_.elapsed());
  live_ = true;
  socket_.connectToHost(QString::fromStdString(address_->host), address_->port);
  attempt_timeout_.start(static_cast<int>(ReconnectSchedule::kRetryIntervalMs));
}

void QtTcpLink::OnConnected() {
  attempt_timeout_.stop();
  socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
  // Qt sets no probe times; the system's default would notice a vanished peer
  // only after two hours.
  EnableKeepAlive(static_cast<int>(socket_.socketDescriptor()));
  schedule_->Connected(clock_.elapsed());
  Q_EMIT Connected();
}

void QtTcpLink::Fail(const QString& reason) {
  if (!live_) return;
  live_ = false;
  attempt_timeout_.stop();
  // Bytes that came with the close are still taken, so a frame they complete counts.
  if (socket_.bytesAvailable() > 0) Q_EMIT CommEvent(2);
  const std::optional<std::string> message =
      schedule_->Failed(reason.toStdString(), clock_.elapsed());
  // Closed after the current signal has returned: Qt may still be inside the socket.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!live_) socket_.abort();
      },
      Qt::QueuedConnection);
  retry_.start(static_cast<int>(schedule_->DelayMs(clock_.elapsed())));
  Q_EMIT Disconnected(message ? QString::fromStdString(*message) : QString());
}

}  // namespace zevrin
