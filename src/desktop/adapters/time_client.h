#pragma once
// The TIME client on a QTcpSocket: turns the socket's signals into TimeSync events.
// Runs on the user-interface thread; every handler returns quickly.

#include <QAbstractSocket>
#include <QObject>
#include <QTcpSocket>
#include <cstdint>
#include <string_view>

#include "clock/time_sync.h"

namespace zevrin {

/// Qt's socket buffer holds no more than this; each readyRead reads it empty and
/// discards all but the first bytes, so a flooding server costs no memory.
inline constexpr qint64 kSocketReadBufferSize = 64 * 1024;

/// The positive error number reported for a socket error: the errno value that
/// matches it where there is one, otherwise a fixed code of our own (1001 and up).
int SocketErrorNumber(QAbstractSocket::SocketError error);

class TimeClient : public QObject {
  Q_OBJECT

 public:
  /// `port` is the TIME port; only tests give another one.
  TimeClient(StatusSink& status, ClockSetter& setter, std::uint16_t port = kTimePort,
             QObject* parent = nullptr);
  ~TimeClient() override;

  /// Starts a synchronisation attempt; returns at once.
  void Begin(std::string_view host);
  TimeSync::State state() const { return sync_.state(); }

 private:
  class SocketControl final : public TimeSocket {
   public:
    explicit SocketControl(TimeClient& client) : client_(client) {}
    bool IsClosed() const override;
    void Close() override;
    void Connect(std::string_view host, std::uint16_t port) override;

   private:
    TimeClient& client_;
  };

  void OnReadyRead();
  void OnDisconnected();
  void OnErrorOccurred(QAbstractSocket::SocketError error);

  QTcpSocket socket_;
  SocketControl control_{*this};
  TimeSync sync_;
  // True while we close the socket ourselves, so its disconnected signal is not
  // taken for a close by the server.
  bool closing_ = false;
  // Counts the attempts, so a deferred check never acts on a later one.
  std::uint64_t attempt_ = 0;
};

}  // namespace zevrin
