#include "adapters/time_client.h"

#include <QString>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cerrno>
#include <string>

namespace zevrin {

namespace {

struct SocketErrorCode {
  QAbstractSocket::SocketError error;
  int number;
};

// Qt's own enum values cannot be used: connection refused is 0 there, which would
// not count as an error that ends the connection.
constexpr std::array<SocketErrorCode, 23> kSocketErrorCodes{{
    {QAbstractSocket::ConnectionRefusedError, ECONNREFUSED},
    {QAbstractSocket::RemoteHostClosedError, ECONNRESET},
    {QAbstractSocket::HostNotFoundError, 1001},
    {QAbstractSocket::SocketAccessError, EACCES},
    {QAbstractSocket::SocketResourceError, ENOBUFS},
    {QAbstractSocket::SocketTimeoutError, ETIMEDOUT},
    {QAbstractSocket::DatagramTooLargeError, EMSGSIZE},
    {QAbstractSocket::NetworkError, ENETUNREACH},
    {QAbstractSocket::AddressInUseError, EADDRINUSE},
    {QAbstractSocket::SocketAddressNotAvailableError, EADDRNOTAVAIL},
    {QAbstractSocket::UnsupportedSocketOperationError, EOPNOTSUPP},
    {QAbstractSocket::ProxyAuthenticationRequiredError, 1002},
    {QAbstractSocket::SslHandshakeFailedError, 1003},
    {QAbstractSocket::UnfinishedSocketOperationError, EALREADY},
    {QAbstractSocket::ProxyConnectionRefusedError, 1004},
    {QAbstractSocket::ProxyConnectionClosedError, 1005},
    {QAbstractSocket::ProxyConnectionTimeoutError, 1006},
    {QAbstractSocket::ProxyNotFoundError, 1007},
    {QAbstractSocket::ProxyProtocolError, 1008},
    {QAbstractSocket::OperationError, 1009},
    {QAbstractSocket::SslInternalError, 1010},
    {QAbstractSocket::SslInvalidUserDataError, 1011},
    {QAbstractSocket::TemporaryError, EAGAIN},
}};
constexpr int kUnknownSocketErrorNumber = 1012;

}  // namespace

int SocketErrorNumber(QAbstractSocket::SocketError error) {
  for (const SocketErrorCode& code : kSocketErrorCodes) {
    if (code.error == error) return code.number;
  }
  return kUnknownSocketErrorNumber;
}

bool TimeClient::SocketControl::IsClosed() const {
  return client_.socket_.state() == QAbstractSocket::UnconnectedState;
}

void TimeClient::SocketControl::Close() {
  client_.closing_ = true;
  client_.socket_.abort();
  client_.closing_ = false;
}

void TimeClient::SocketControl::Connect(std::string_view host, std::uint16_t port) {
  client_.socket_.connectToHost(QString::fromUtf8(host.data(), static_cast<qsizetype>(host.size())),
                                port);
}

TimeClient::TimeClient(StatusSink& status, ClockSetter& setter, std::uint16_t port, QObject* parent)
    : QObject(parent), sync_(status, control_, setter, port) {
  socket_.setReadBufferSize(kSocketReadBufferSize);
  connect(&socket_, &QTcpSocket::connected, this, [this] { sync_.Connected(); });
  connect(&socket_, &QTcpSocket::readyRead, this, &TimeClient::OnReadyRead);
  connect(&socket_, &QTcpSocket::disconnected, this, &TimeClient::OnDisconnected);
  connect(&socket_, &QTcpSocket::errorOccurred, this, &TimeClient::OnErrorOccurred);
}

TimeClient::~TimeClient() {
  // The socket goes in whatever state it is; nothing is reported for it.
  socket_.disconnect(this);
  control_.Close();
}

void TimeClient::Begin(std::string_view host) {
  ++attempt_;
  sync_.Begin(host);
}

void TimeClient::OnReadyRead() {
  if (closing_) return;
  // Everything waiting is one arrival. It is read in small pieces and only its
  // first bytes are kept; the socket's own buffer is bounded by
  // kSocketReadBufferSize, so this loop ends soon however much the server sends.
  std::array<std::uint8_t, kListedArrivalBytes> head{};
  std::uint64_t count = 0;
  std::array<char, 4096> chunk;
  while (socket_.bytesAvailable() > 0) {
    const qint64 n = socket_.read(chunk.data(), static_cast<qint64>(chunk.size()));
    if (n <= 0) break;
    if (count < head.size()) {
      const std::size_t keep =
          std::min<std::size_t>(static_cast<std::size_t>(n), head.size() - count);
      std::copy_n(chunk.begin(), keep, head.begin() + count);
    }
    count += static_cast<std::uint64_t>(n);
  }
  if (count > 0) sync_.DataArrived(head, count);
}

void TimeClient::OnDisconnected() {
  if (closing_) return;
  // Bytes that came with the close are part of the reply.
  OnReadyRead();
  sync_.ClosedByServer();
}

void TimeClient::OnErrorOccurred(QAbstractSocket::SocketError error) {
  if (closing_) return;
  if (error == QAbstractSocket::RemoteHostClosedError &&
      sync_.state() == TimeSync::State::kConnected) {
    // A normal end of the reply. Qt follows it with disconnected(), which runs the
    // close handler; the deferred check covers a close without that signal.
    QTimer::singleShot(0, this, [this, attempt = attempt_] {
      if (attempt == attempt_ && socket_.state() == QAbstractSocket::UnconnectedState) {
        OnDisconnected();
      }
    });
    return;
  }
  sync_.Error(SocketErrorNumber(error), socket_.errorString().toStdString());
}

}  // namespace zevrin
