#pragma once
// The serial port to the TNC on QSerialPort. Notifications arrive on the
// user-interface thread as CommEvent(code); a device that goes away is closed once
// and reported as PortLost, and never re-opened by this class.

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "input/serial_port.h"

namespace zevrin {

/// The entry for port n: "comN" (lower case, no leading zero) in the first of
/// `directories` that has such an entry, typically a link to /dev/ttyUSB0 or a
/// pseudo-terminal; otherwise /dev/ttyS<n-1>. Empty for a port number below 1.
std::string SerialDevicePath(int port_number, const std::vector<std::string>& directories);
inline std::string SerialDevicePath(int port_number, const std::string& directory) {
  return SerialDevicePath(port_number, std::vector<std::string>{directory});
}

/// `path` with all links resolved, when it names a character device; nullopt
/// otherwise, with the reason in `error` when given.
std::optional<std::string> CharacterDevicePath(const std::string& path,
                                               std::string* error = nullptr);

/// A line-settings text "speed,parity,data bits,stop bits" in QSerialPort's terms.
struct QtLineSettings {
  qint32 speed = 9600;
  QSerialPort::Parity parity = QSerialPort::NoParity;
  QSerialPort::DataBits data_bits = QSerialPort::Data8;
  QSerialPort::StopBits stop_bits = QSerialPort::OneStop;
};

/// Accepts a positive decimal speed, parity N, E, O, M or S (either case), 5 to 8
/// data bits and 1, 1.5 or 2 stop bits; nullopt for anything else.
std::optional<QtLineSettings> ParseQtLineSettings(std::string_view text);

class QtSerialPort final : public QObject, public SerialPort {
  Q_OBJECT

 public:
  /// `directories` are where "comN" entries are looked for, in order.
  explicit QtSerialPort(std::vector<std::string> directories, QObject* parent = nullptr);
  /// "comN" entries in `directory` alone: by default the working directory.
  explicit QtSerialPort(std::string directory = ".", QObject* parent = nullptr)
      : QtSerialPort(std::vector<std::string>{std::move(directory)}, parent) {}
  ~QtSerialPort() override;

  void SetPortNumber(std::int16_t port) override { port_number_ = port; }
  std::int16_t PortNumber() const override { return port_number_; }
  void SetSettings(const std::string& settings) override { settings_ = settings; }
  std::string Settings() const override { return settings_; }
  /// QSerialPort always delivers raw bytes; the line is put into raw mode at Open.
  void SetBinaryInput() override {}
  /// Opens the device of the port number with the line settings; a missing
  /// device, one that is not a character device, one in use or unknown settings
  /// leave the port closed.
  void Open() override;
  void Close() override;
  std::optional<PortOpenFailure> OpenFailure() const override { return failure_; }
  bool IsOpen() const override { return port_.isOpen(); }
  std::vector<std::uint8_t> ReadAll() override;
  void WriteByte(std::uint8_t byte) override;

  /// The device path of the last open attempt (links resolved when it got that far).
  const std::string& device() const { return device_; }

 Q_SIGNALS:
  /// A notification with its event code; 2 whenever received bytes are waiting.
  void CommEvent(int code);
  /// The device went away; the port has been closed. Raised once per loss, with
  /// kDeviceWentAway, or kOtherEndWentAway for a pseudo-terminal, as the reason.
  void PortLost(const QString& reason);

 private:
  void OnReadyRead();
  void OnError(QSerialPort::SerialPortError error);
  void Lose();
  // Records why Open() leaves the port closed, naming the device a link leads to.
  void Fail(std::string reason, bool permission_denied = false);

  QSerialPort port_;
  std::vector<std::string> directories_;
  std::int16_t port_number_ = 1;
  std::string settings_ = "9600,N,8,1";
  std::string device_;
  std::optional<PortOpenFailure> failure_;
  // Set by readyRead, cleared by ReadAll: a notification that finds nothing to
  // read means the device has gone.
  bool ready_read_pending_ = false;
  // True from the first sign of a loss until the port is closed, so the loss is
  // handled once however often Qt repeats the error.
  bool losing_ = false;
};

}  // namespace zevrin
