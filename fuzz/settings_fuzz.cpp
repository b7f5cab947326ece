// The settings file "zevrinkiss.ini" and the setup dialog's typed TCP address.
// The file reader takes every byte sequence; what it read must be written and
// read back as the same three lines, and line 1's meaning (a serial port and
// its line settings, or a TCP address) must survive the dialog's way of writing
// it. A typed host and port are either an address that reads back the same from
// the dialog's texts and from line 1, or are refused with a message naming them.

#include <cstdint>
#include <string>
#include <string_view>

#include "config/settings_file.h"
#include "fuzz_support.h"
#include "input/tcp_link.h"

namespace {

using zevrin::fuzz::Require;

bool SameLines(const zevrin::SettingsLines& a, const zevrin::SettingsLines& b) {
  return a.settings_line == b.settings_line && a.time_server_host == b.time_server_host &&
         a.station_label == b.station_label;
}

void CheckSettingsFile(std::string_view text) {
  static const zevrin::fuzz::ScratchFile file("zevrinkiss.ini");
  static const zevrin::fuzz::ScratchFile copy("zevrinkiss-copy.ini");
  Require(file.Write(text), "scratch file written");
  zevrin::SettingsLines lines;
  Require(zevrin::ReadSettingsFile(file.path(), lines) == zevrin::SettingsReadResult::kRead,
          "every file is read");
  for (const std::string* line :
       {&lines.settings_line, &lines.time_server_host, &lines.station_label}) {
    Require(line->size() <= zevrin::kSettingsLineLimit, "a line kept to its limit");
    Require(line->find_first_of("\r\n") == std::string::npos, "a line holds no line break");
  }
  Require(!zevrin::WriteSettingsFile(copy.path(), lines), "settings written");
  zevrin::SettingsLines back;
  Require(zevrin::ReadSettingsFile(copy.path(), back) == zevrin::SettingsReadResult::kRead &&
              SameLines(lines, back),
          "the settings read back as written");
}

// Line 1 as the program reads it, written again as the setup dialog writes it.
void CheckLineOne(std::string_view line) {
  if (zevrin::IsTcpSettingsLine(line)) {
    if (const auto address = zevrin::TcpSettingsAddress(line)) {
      Require(zevrin::TcpSettingsAddress(zevrin::TcpSettingsLine(*address)) == address,
              "a TCP line reads back as the same address");
    }
    return;
  }
  const std::int16_t port = zevrin::SettingsPortNumber(line);
  Require(port >= 0 && port <= 99, "a port number of two digits at most");
  const zevrin::LineSettings parts = zevrin::SplitLineSettings(zevrin::SettingsLineSettings(line));
  const std::string again = zevrin::BuildSettingsLine(zevrin::PortEntryText(port), parts);
  Require(zevrin::SettingsPortNumber(again) == port, "the same port after the dialog", again);
  const zevrin::LineSettings parts_again =
      zevrin::SplitLineSettings(zevrin::SettingsLineSettings(again));
  Require(parts_again.speed == parts.speed && parts_again.parity == parts.parity &&
              parts_again.data_bits == parts.data_bits && parts_again.stop_bits == parts.stop_bits,
          "the same line settings after the dialog", again);
}

// Host and port as typed into the dialog.
void CheckTypedAddress(std::string_view host, std::string_view port) {
  const auto address = zevrin::ParseTcpEntry(host, port);
  if (!address) {
    const std::string problem = zevrin::TcpEntryProblem(host, port);
    Require(problem.find(host) != std::string::npos && problem.find(port) != std::string::npos,
            "a refused address is named", problem);
    return;
  }
  // The dialog shows a TCP link in force as its host and port number.
  Require(zevrin::ParseTcpEntry(address->host, std::to_string(address->port)) == address,
          "the dialog's texts read back as the same address");
  Require(zevrin::TcpSettingsAddress(zevrin::TcpSettingsLine(*address)) == address,
          "line 1 reads back as the typed address");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = zevrin::fuzz::AsText(data, size);
  CheckSettingsFile(text);
  // Line 1 and the typed entries straight from the input, long lines included.
  const std::size_t end = text.find_first_of("\r\n");
  CheckLineOne(text.substr(0, end));
  const std::size_t tab = text.find('\t');
  CheckTypedAddress(text.substr(0, tab),
                    tab == std::string_view::npos ? std::string_view() : text.substr(tab + 1));
  return 0;
}
