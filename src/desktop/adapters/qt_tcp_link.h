#pragma once
// The KISS-over-TCP link of the desktop program on QTcpSocket, on the user-interface
// thread beside the serial port. It connects, reports its bytes as notifications
// with code 2 like the serial port, and keeps the connection up: after a refusal or
// a loss it tries again every 3 s, telling each outage once. It never sends.

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <vector>

#include "input/tcp_link.h"

namespace zevrin {

class QtTcpLink final : public QObject, public TcpLink {
  Q_OBJECT

 public:
  explicit QtTcpLink(QObject* parent = nullptr);
  ~QtTcpLink() override;

  void Connect(const TcpAddress& address) override;
  /// Ends the connection and the attempts to connect.
  void Close() override;
  bool IsOpen() const override;
  std::vector<std::uint8_t> ReadAll() override;
  /// Sends nothing: a software TNC serves several clients, and this one stays quiet.
  void WriteByte(std::uint8_t) override {}

 Q_SIGNALS:
  /// Received bytes are waiting (code 2).
  void CommEvent(int code);
  void Connected();
  /// An attempt failed or the connection ended. `message` is set for the first
  /// failure of an outage and empty for the further ones.
  void Disconnected(const QString& message);

 private:
  void Attempt();
  void OnConnected();
  void Fail(const QString& reason);

  QTcpSocket socket_;
  QTimer retry_;            // the next attempt
  QTimer attempt_timeout_;  // an attempt that takes too long is given up
  QElapsedTimer clock_;
  std::optional<TcpAddress> address_;
  std::optional<ReconnectSchedule> schedule_;
  // True from the start of an attempt until its failure or the loss of its
  // connection, so a failure Qt reports twice (error and disconnected) counts once.
  bool live_ = false;
};

}  // namespace zevrin
