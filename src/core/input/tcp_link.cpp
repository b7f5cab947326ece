#include "input/tcp_link.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <utility>

namespace zevrin {

namespace {

constexpr std::string_view kTcpPrefix = "tcp:";
constexpr std::string_view kBlanks = " \t";
// What a typed entry may have around it: every ASCII white space.
constexpr std::string_view kTypedBlanks = " \t\n\v\f\r";
// Longest host name DNS allows.
constexpr std::size_t kMaxHostLength = 253;

// Keep-alive: first probe after this much silence, then every interval, giving up
// after the count: 60 + 5 * 10 = 110 s.
constexpr int kKeepAliveIdleS = 60;
constexpr int kKeepAliveIntervalS = 10;
constexpr int kKeepAliveCount = 5;

std::string_view Trim(std::string_view text, std::string_view blanks = kBlanks) {
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > kHighestTcpPort) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// A typed port: an optional '+', then digits, leading zeros allowed ("08001").
std::optional<std::uint16_t> ParseTypedPort(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  const std::size_t first = text.find_first_not_of('0');
  if (first == std::string_view::npos) return std::nullopt;  // empty, or port 0
  return ParsePort(text.substr(first));
}

// A host is printable, without blanks, brackets or slashes.
bool GoodHost(std::string_view host) {
  if (host.empty() || host.size() > kMaxHostLength) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '[' && c != ']' && c != '/';
  });
}

}  // namespace

std::optional<TcpAddress> ParseTcpAddress(std::string_view text) {
  text = Trim(text);
  std::string_view host;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return std::nullopt;
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos)
      return std::nullopt;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  const std::optional<std::uint16_t> number = ParsePort(port);
  if (!number || !GoodHost(host)) return std::nullopt;
  return TcpAddress{std::string(host), *number};
}

std::optional<TcpAddress> ParseTcpEntry(std::string_view host, std::string_view port) {
  host = Trim(host, kTypedBlanks);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const std::optional<std::uint16_t> number = ParseTypedPort(Trim(port, kTypedBlanks));
  if (!number) return std::nullopt;
  return ParseTcpAddress(TcpAddressText(TcpAddress{std::string(host), *number}));
}

std::string TcpEntryProblem(std::string_view host, std::string_view port) {
  std::string text = "\"";
  text.append(host).append("\" port ").append(port);
  text += " is no KISS over TCP address: give a host name or address and a port from 1 to ";
  text += std::to_string(kHighestTcpPort) + ".";
  return text;
}

std::string TcpAddressText(const TcpAddress& address) {
  std::string text;
  if (address.host.find(':') != std::string::npos) {
    text = "[" + address.host + "]";
  } else {
    text = address.host;
  }
  text += ':';
  text += std::to_string(address.port);
  return text;
}

bool IsTcpSettingsLine(std::string_view settings_line) {
  if (settings_line.size() < kTcpPrefix.size()) return false;
  for (std::size_t i = 0; i < kTcpPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(settings_line[i])) != kTcpPrefix[i]) return false;
  }
  return true;
}

std::optional<TcpAddress> TcpSettingsAddress(std::string_view settings_line) {
  if (!IsTcpSettingsLine(settings_line)) return std::nullopt;
  return ParseTcpAddress(settings_line.substr(kTcpPrefix.size()));
}

std::string TcpSettingsLine(const TcpAddress& address) {
  return std::string(kTcpPrefix) + TcpAddressText(address);
}

std::string TcpPortLabelText(const TcpAddress& address, bool connected) {
  return "TCP " + TcpAddressText(address) + (connected ? " connected" : " not connected");
}

bool EnableKeepAlive(int fd) {
  const int on = 1;
  bool ok = ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
  ok = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleS, sizeof(int)) == 0 && ok;
  ok = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalS, sizeof(int)) == 0 && ok;
  ok = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveCount, sizeof(int)) == 0 && ok;
  return ok;
}

ReconnectSchedule::ReconnectSchedule(const TcpAddress& address)
    : name_("KISS over TCP " + TcpAddressText(address)) {}

void ReconnectSchedule::AttemptStarted(std::int64_t now_ms) { last_attempt_ms_ = now_ms; }

std::int64_t ReconnectSchedule::DelayMs(std::int64_t now_ms) const {
  if (!last_attempt_ms_) return 0;
  return std::clamp<std::int64_t>(*last_attempt_ms_ + kRetryIntervalMs - now_ms, 0,
                                  kRetryIntervalMs);
}

std::optional<std::string> ReconnectSchedule::Failed(std::string_view reason, std::int64_t now_ms) {
  // A connection that lasted ended the outage before it; a short one did not.
  if (Lasting(now_ms)) outage_ = false;
  const bool was_connected = std::exchange(connected_, false);
  if (outage_) return std::nullopt;
  outage_ = true;
  std::string text = name_;
  text += was_connected ? " lost (" : ": cannot connect (";
  text += reason;
  text += "); trying again every ";
  text += std::to_string(kRetryIntervalMs / 1000);
  text += " s";
  return text;
}

void ReconnectSchedule::Connected(std::int64_t now_ms) {
  connected_ = true;
  confirmed_ = false;
  connected_ms_ = now_ms;
}

std::optional<std::string> ReconnectSchedule::Confirm(std::int64_t now_ms) {
  if (confirmed_ || !Lasting(now_ms)) return std::nullopt;
  confirmed_ = true;
  // "again" after an outage that was told.
  return name_ + (std::exchange(outage_, false) ? " connected again" : " connected");
}

std::int64_t ReconnectSchedule::ConfirmDelayMs(std::int64_t now_ms) const {
  if (!connected_ || confirmed_) return -1;
  return std::max<std::int64_t>(0, connected_ms_ + kRetryIntervalMs - now_ms);
}

}  // namespace zevrin
