#pragma once
// What the station link needs of a serial port. The desktop program adapts a real
// port to this; tests and the command-line decoder supply their own.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/link.h"

namespace zevrin {

/// What a port that went away reports as the reason: said plainly, since the
/// error the system gives at that moment (a failed read) tells the user nothing.
inline constexpr std::string_view kDeviceWentAway = "the device went away";
/// The same for a pseudo-terminal or a network link: the program at the other end
/// closed it.
inline constexpr std::string_view kOtherEndWentAway = "the other end went away";

/// Why an Open() left the port closed.
struct PortOpenFailure {
  std::string device;              ///< the device tried, links followed as far as they lead
  std::string reason;              ///< the system's message, e.g. "No such file or directory"
  bool permission_denied = false;  ///< this user may not use the device
};

/// A serial port to the TNC. Settings take effect at the next Open().
class SerialPort : public Link {
 public:
  /// Port number, 1 for the first port.
  virtual void SetPortNumber(std::int16_t port) = 0;
  virtual std::int16_t PortNumber() const = 0;

  /// Line settings as "speed,parity,data bits,stop bits", for example "9600,N,8,1".
  /// The port reports the same text back.
  virtual void SetSettings(const std::string& settings) = 0;
  virtual std::string Settings() const = 0;

  /// Raw input: every waiting byte is delivered unchanged, NUL bytes included.
  virtual void SetBinaryInput() = 0;

  /// Opening a port that does not exist or is in use leaves it closed.
  virtual void Open() = 0;
  /// Why the last Open() failed; nullopt after one that opened the port.
  virtual std::optional<PortOpenFailure> OpenFailure() const = 0;
};

}  // namespace zevrin
