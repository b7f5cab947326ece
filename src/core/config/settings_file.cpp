#include "config/settings_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

namespace zevrin {

namespace {

// Cuts text into lines ended by CR LF, CR or LF, each kept to its first
// kSettingsLineLimit bytes. A last line without an end counts; an end at the very
// end of the text starts no further line.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  bool pending = false;  // something since the last line end
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(current);
      current.clear();
      pending = false;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      continue;
    }
    if (current.size() < kSettingsLineLimit) current.push_back(c);
    pending = true;
  }
  if (pending) lines.push_back(current);
  return lines;
}

}  // namespace

SettingsReadResult ReadSettingsFile(const std::string& path, SettingsLines& lines) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? SettingsReadResult::kMissing : SettingsReadResult::kFailed;
  // Only the head of the file is read: three lines fit it many times over, and a
  // huge file costs no more time or memory than a small one.
  std::string text(kSettingsReadLimit, '\0');
  std::size_t size = 0;
  bool failed = false;
  while (size < text.size()) {
    const ssize_t n = ::read(fd, text.data() + size, text.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = true;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  text.resize(size);
  ::close(fd);
  if (failed) return SettingsReadResult::kFailed;
  const std::vector<std::string> read = SplitLines(text);
  std::string* const targets[] = {&lines.settings_line, &lines.time_server_host,
                                  &lines.station_label};
  for (std::size_t i = 0; i < std::size(targets) && i < read.size(); ++i) *targets[i] = read[i];
  return SettingsReadResult::kRead;
}

std::optional<std::string> WriteSettingsFile(const std::string& path, const SettingsLines& lines) {
  std::string text;
  for (const std::string* line :
       {&lines.settings_line, &lines.time_server_host, &lines.station_label}) {
    text += *line;
    text += "\r\n";
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return std::string(std::strerror(errno));
  std::optional<std::string> error;
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && !error) error = std::strerror(errno);
  return error;
}

std::int16_t SettingsPortNumber(std::string_view settings_line) {
  std::int16_t port = 0;
  for (std::size_t i = 0; i < 2 && i < settings_line.size(); ++i) {
    const char c = settings_line[i];
    if (c < '0' || c > '9') break;
    port = static_cast<std::int16_t>(port * 10 + (c - '0'));
  }
  return port;
}

std::string SettingsLineSettings(std::string_view settings_line) {
  if (settings_line.size() <= 3) return {};
  std::string settings(settings_line.substr(3));
  for (char& c : settings) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return settings;
}

LineSettings SplitLineSettings(std::string_view text) {
  LineSettings parts;
  std::string* const targets[] = {&parts.speed, &parts.parity, &parts.data_bits, &parts.stop_bits};
  std::size_t index = 0;
  for (const char c : text) {
    if (c == ',') {
      if (++index == std::size(targets)) break;
      continue;
    }
    targets[index]->push_back(c);
  }
  return parts;
}

std::string BuildSettingsLine(std::string_view port_entry, const LineSettings& choice) {
  std::string line(port_entry.size() > 3 ? port_entry.substr(3, 2) : std::string_view());
  for (const std::string* part :
       {&choice.speed, &choice.parity, &choice.data_bits, &choice.stop_bits}) {
    line += ',';
    line += *part;
  }
  return line;
}

std::string PortEntryText(int port_number) {
  char text[16];
  std::snprintf(text, sizeof text, "COM%02d", port_number);
  return text;
}

}  // namespace zevrin
