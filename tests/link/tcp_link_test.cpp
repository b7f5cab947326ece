// KISS-over-TCP addresses in line 1 of the settings file, the reconnection rule, and
// the serial device of the decode tool.

#include "input/tcp_link.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <tuple>

#include "config/settings_file.h"
#include "input/serial_device.h"
#include "link/pty.h"

namespace zevrin {
namespace {

TEST(TcpAddressTest, GoodAddressesReadBackAndMalformedOnesAreRefused) {
  const std::pair<const char*, TcpAddress> good[] = {
      {"[::1]:8001", {"::1", 8001}}, {" tnc.example:65535\t", {"tnc.example", 65535}}};
  for (const auto& [text, address] : good) {
    EXPECT_EQ(ParseTcpAddress(text), address) << text;
    // What is shown and written reads back as the same address.
    EXPECT_EQ(ParseTcpAddress(TcpAddressText(address)), address) << text;
  }
  // "::1:8001" is ambiguous without brackets.
  for (const char* bad : {"localhost", ":8001", "localhost:0", "localhost:65536", "localhost:+801",
                          "localhost:80 01", "::1:8001", "[::1]8001", "[::1:8001", "[]:8001",
                          "two words:8001", "bad\x01host:8001", "h\xC3\xA9:8001"}) {
    EXPECT_EQ(ParseTcpAddress(bad), std::nullopt) << bad;
  }
}

// Host and port as typed into the setup dialog: blanks and an IPv6 address's
// brackets are forgiven, a number that only wraps round into range is not, and a
// refusal names both texts as typed.
TEST(TcpAddressTest, TypedHostAndPortGiveTheAddressLineOneWillHold) {
  const std::tuple<const char*, const char*, std::optional<TcpAddress>> cases[] = {
      {" [::1] ", "8100", TcpAddress{"::1", 8100}},
      {"::1", "\t08001\n", TcpAddress{"::1", 8001}},
      {"tnc.example", "+65535", TcpAddress{"tnc.example", 65535}},
      {"localhost", "65536", std::nullopt},
      {"localhost", "4294967297", std::nullopt},  // 2^32 + 1
      {"localhost", "", std::nullopt},
      {"localhost", "+", std::nullopt},
      {"[::1", "8001", std::nullopt},
      {"two words", "8001", std::nullopt},
      {"", "8001", std::nullopt}};
  for (const auto& [host, port, address] : cases) {
    const std::optional<TcpAddress> typed = ParseTcpEntry(host, port);
    EXPECT_EQ(typed, address) << host << " " << port;
    if (typed) {
      EXPECT_EQ(TcpSettingsAddress(TcpSettingsLine(*typed)), typed) << host;
    } else {
      const std::string problem = TcpEntryProblem(host, port);
      EXPECT_NE(problem.find(std::string("\"") + host + "\" port " + port), std::string::npos)
          << problem;
    }
  }
}

// Line 1 names a serial port by its first two characters, or a TCP link after "tcp:"
// in either case; every serial line keeps its meaning.
TEST(TcpAddressTest, LineOneIsASerialPortOrATcpLink) {
  const std::tuple<const char*, int, bool> cases[] = {
      {"7,9600,N,8,1", 7, false}, {"123,9600", 12, false},     {"x1,9600,N,8,1", 0, false},
      {"tc", 0, false},           {"9600,tcp:x:1", 96, false}, {"TCP:localhost:8001", -1, true}};
  for (const auto& [line, port, tcp] : cases) {
    EXPECT_EQ(IsTcpSettingsLine(line), tcp) << line;
    EXPECT_TRUE(tcp || SettingsPortNumber(line) == port) << line;
  }
}

// Attempts at least 3 s apart; one message per outage, however many attempts or
// short-lived connections it takes; "connected" once a connection has lasted.
TEST(ReconnectScheduleTest, AttemptsStay3sApartAndEachOutageIsToldOnce) {
  ReconnectSchedule s({"localhost", 8001});
  s.AttemptStarted(1000);
  EXPECT_NE(s.Failed("Connection refused", 1005), std::nullopt);
  EXPECT_EQ(s.DelayMs(1005), 2995);
  s.AttemptStarted(4000);
  EXPECT_EQ(s.Failed("Connection refused", 4001), std::nullopt);
  s.AttemptStarted(7000);
  s.Connected(7001);  // taken and dropped at once: still the same outage
  EXPECT_EQ(s.Confirm(7500), std::nullopt);
  EXPECT_EQ(s.Failed("closed by the server", 7500), std::nullopt);
  EXPECT_EQ(s.DelayMs(7500), 2500);  // no faster retry after a quick drop

  s.AttemptStarted(10000);
  s.Connected(10001);
  EXPECT_EQ(s.ConfirmDelayMs(11001), 2000);
  EXPECT_EQ(s.Confirm(13001), "KISS over TCP localhost:8001 connected again");
  EXPECT_EQ(s.DelayMs(20000), 0);  // a lasting connection lost: try again at once
  EXPECT_NE(s.Failed("Connection reset by peer", 20000), std::nullopt);
  // Lasting without Confirm (the desktop never asks) still ends the outage.
  s.Connected(30000);
  EXPECT_NE(s.Failed("closed by the server", 40000), std::nullopt);
}

// The serial device reads at the speed asked for (a pseudo-terminal keeps it).
TEST(SerialDeviceTest, OpensAtTheSpeedAskedFor) {
  struct : LiveSourceEvents {
    void LinkMessage(std::string_view) override {}
    void StreamBroken() override {}
  } events;
  testing::Pty pty;
  for (const auto& [speed, constant] : {std::pair{9600L, B9600}, {115200L, B115200}}) {
    SerialDevice device(events);
    ASSERT_EQ(device.Open(pty.slave_path(), speed), std::nullopt);
    termios tio{};
    const int fd = ::open(pty.slave_path().c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    EXPECT_EQ(::cfgetospeed(&tio), constant) << speed;
  }
}

}  // namespace
}  // namespace zevrin
