#include "adapters/qt_serial_port.h"

#include <sys/stat.h>

#include <QByteArray>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "config/settings_file.h"

namespace zevrin {

// How QSerialPort's conditions reach the receive path. Qt 6 reports fewer line
// conditions than the codes the receive path knows; those without a counterpart
// (CTS/DSR/CD changes, ring, break, timeouts, framing and parity errors, overruns)
// are never raised.
//
//   Qt condition                         code / action
//   -----------------------------------  -------------------------------------
//   readyRead                            2 (bytes waiting)
//   readyRead, then nothing to read      port lost: closed once, PortLost
//   ResourceError                        port lost: closed once, PortLost
//   ReadError                            port lost: closed once, PortLost
//   (PortLost says the device, or for a pseudo-terminal the other end, went away)
//   DeviceNotFound/Permission/OpenError  only at Open: the port stays closed
//   WriteError                           none (a rejected write is not reported)
//   UnsupportedOperation/Unknown/Timeout none
//   NotOpenError                         none (callers check IsOpen first)

namespace {

// The received bytes are taken in one piece per notification; Qt's buffer is not
// limited, so nothing is lost while a long notification runs.
constexpr qint64 kUnlimitedReadBuffer = 0;

constexpr std::string_view kPseudoTerminalPrefix = "/dev/pts/";

bool ParseDecimal(std::string_view text, long long max, long long& value) {
  if (text.empty() || text.size() > 10) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value <= max;
}

}  // namespace

std::string SerialDevicePath(int port_number, const std::vector<std::string>& directories) {
  if (port_number < 1) return {};
  for (const std::string& directory : directories) {
    std::string link = directory;
    if (!link.empty() && link.back() != '/') link += '/';
    link += "com" + std::to_string(port_number);
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) return link;
  }
  return "/dev/ttyS" + std::to_string(port_number - 1);
}

std::optional<std::string> CharacterDevicePath(const std::string& path, std::string* error) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) {
    if (error != nullptr) *error = std::strerror(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (::stat(resolved, &st) != 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return std::nullopt;
  }
  if (!S_ISCHR(st.st_mode)) {
    if (error != nullptr) *error = "not a character device";
    return std::nullopt;
  }
  return std::string(resolved);
}

std::optional<QtLineSettings> ParseQtLineSettings(std::string_view text) {
  if (std::count(text.begin(), text.end(), ',') != 3) return std::nullopt;
  const LineSettings parts = SplitLineSettings(text);
  QtLineSettings settings;

  long long speed = 0;
  if (!ParseDecimal(parts.speed, INT32_MAX, speed) || speed == 0) return std::nullopt;
  settings.speed = static_cast<qint32>(speed);

  constexpr std::pair<char, QSerialPort::Parity> kParities[] = {{'N', QSerialPort::NoParity},
                                                                {'E', QSerialPort::EvenParity},
                                                                {'O', QSerialPort::OddParity},
                                                                {'M', QSerialPort::MarkParity},
                                                                {'S', QSerialPort::SpaceParity}};
  if (parts.parity.size() != 1) return std::nullopt;
  const auto parity = std::find_if(std::begin(kParities), std::end(kParities), [&](const auto& p) {
    return p.first == std::toupper(static_cast<unsigned char>(parts.parity[0]));
  });
  if (parity == std::end(kParities)) return std::nullopt;
  settings.parity = parity->second;

  long long data_bits = 0;
  if (!ParseDecimal(parts.data_bits, 8, data_bits) || data_bits < 5) return std::nullopt;
  settings.data_bits = static_cast<QSerialPort::DataBits>(data_bits);

  if (parts.stop_bits == "1") {
    settings.stop_bits = QSerialPort::OneStop;
  } else if (parts.stop_bits == "1.5") {
    settings.stop_bits = QSerialPort::OneAndHalfStop;
  } else if (parts.stop_bits == "2") {
    settings.stop_bits = QSerialPort::TwoStop;
  } else {
    return std::nullopt;
  }
  return settings;
}

QtSerialPort::QtSerialPort(std::vector<std::string> directories, QObject* parent)
    : QObject(parent), directories_(std::move(directories)) {
  port_.setReadBufferSize(kUnlimitedReadBuffer);
  connect(&port_, &QSerialPort::readyRead, this, &QtSerialPort::OnReadyRead);
  connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::OnError);
}

QtSerialPort::~QtSerialPort() {
  // Closing here, with the signals cut, keeps a last error from reaching a
  // receiver that is already gone.
  port_.disconnect(this);
  if (port_.isOpen()) port_.close();
}

void QtSerialPort::Open() {
  if (port_.isOpen()) return;
  losing_ = false;
  ready_read_pending_ = false;
  failure_.reset();
  const std::optional<QtLineSettings> settings = ParseQtLineSettings(settings_);
  device_ = SerialDevicePath(port_number_, directories_);
  if (device_.empty()) return Fail("no such port");
  if (!settings) return Fail("unknown line settings " + settings_);
  std::string error;
  const std::optional<std::string> device = CharacterDevicePath(device_, &error);
  if (!device) return Fail(error, error == std::strerror(EACCES));
  device_ = *device;

  port_.setPortName(QString::fromStdString(device_));
  if (!port_.open(QIODevice::ReadWrite)) {
    return Fail(port_.errorString().toStdString(), port_.error() == QSerialPort::PermissionError);
  }
  // Each setting is tried, so one the device refuses leaves the others in force.
  bool applied = port_.setFlowControl(QSerialPort::NoFlowControl);
  applied = port_.setBaudRate(settings->speed) && applied;
  applied = port_.setParity(settings->parity) && applied;
  applied = port_.setDataBits(settings->data_bits) && applied;
  applied = port_.setStopBits(settings->stop_bits) && applied;
  // A pseudo-terminal (a bridge to a software TNC) has no line: it takes no parity
  // and always 8 data bits, which matters to nobody there, so it stays open.
  if (!applied && device_.rfind(kPseudoTerminalPrefix, 0) != 0) {
    port_.close();
    Fail("the device refuses line settings " + settings_);
  }
}

void QtSerialPort::Fail(std::string reason, bool permission_denied) {
  std::error_code ignored;
  std::string device = std::filesystem::weakly_canonical(device_, ignored).string();
  if (device.empty()) device = device_.empty() ? "COM" + std::to_string(port_number_) : device_;
  failure_ = PortOpenFailure{std::move(device), std::move(reason), permission_denied};
}

void QtSerialPort::Close() {
  ready_read_pending_ = false;
  losing_ = false;  // a loss still being handled is over: the port is closed on purpose
  if (port_.isOpen()) port_.close();
}

std::vector<std::uint8_t> QtSerialPort::ReadAll() {
  const bool notified = std::exchange(ready_read_pending_, false);
  if (!port_.isOpen()) return {};
  const QByteArray data = port_.readAll();
  if (data.isEmpty() && notified) Lose();
  return std::vector<std::uint8_t>(data.begin(), data.end());
}

void QtSerialPort::WriteByte(std::uint8_t byte) {
  if (!port_.isOpen()) return;
  const char c = static_cast<char>(byte);
  port_.write(&c, 1);
}

void QtSerialPort::OnReadyRead() {
  if (losing_) return;
  ready_read_pending_ = true;
  Q_EMIT CommEvent(2);
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error) {
  if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError) Lose();
}

void QtSerialPort::Lose() {
  if (losing_ || !port_.isOpen()) return;
  losing_ = true;
  // A pseudo-terminal hangs up when the program on its other side ends; any other
  // device goes away when it is unplugged or switched off.
  const std::string_view what =
      device_.rfind(kPseudoTerminalPrefix, 0) == 0 ? kOtherEndWentAway : kDeviceWentAway;
  const QString reason = QString::fromLatin1(what.data(), static_cast<qsizetype>(what.size()));
  // Closed after the current notification has returned: Qt is still inside its
  // own read handler here, and the receive path may still be using the port.
  QMetaObject::invokeMethod(
      this,
      [this, reason] {
        if (!losing_) return;  // closed and opened again meanwhile
        if (port_.isOpen()) port_.close();
        losing_ = false;
        Q_EMIT PortLost(reason);
      },
      Qt::QueuedConnection);
}

}  // namespace zevrin
