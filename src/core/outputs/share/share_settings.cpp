#include "outputs/share/share_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zevrin {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  return text;
}

bool ParseDouble(std::string_view text, double& out) {
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return false;
  out = value;
  return true;
}

// A value written to the file must not break it into more lines.
bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// The shortest text that reads back as the same number.
std::string NumberText(double value) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : "0";
}

// A URL's scheme is case-insensitive: "HTTP://" names the same as "http://".
bool StartsWithIgnoringCase(std::string_view text, std::string_view lower_prefix) {
  if (text.size() < lower_prefix.size()) return false;
  for (std::size_t i = 0; i < lower_prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != lower_prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsServerUrl(std::string_view url) {
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (StartsWithIgnoringCase(url, scheme)) {
      const std::string_view rest = url.substr(scheme.size());
      return !rest.empty() && rest.front() != '/' &&
             rest.find_first_of(" \t\r\n") == std::string_view::npos;
    }
  }
  return false;
}

std::optional<std::string> SharingOffReason(const ShareSettings& settings) {
  const ShareStation& s = settings.station;
  if (!settings.enabled) return "not turned on";
  if (Trim(s.callsign).empty()) return "no callsign";
  if (s.latitude == 0.0 && s.longitude == 0.0) return "no position (latitude and longitude are 0)";
  if (!(std::fabs(s.latitude) <= 90.0) || !(std::fabs(s.longitude) <= 180.0))
    return "position out of range";
  if (s.norad_id == 0) return "no NORAD catalogue number";
  if (settings.servers.empty()) return "no server";
  for (const ShareServer& server : settings.servers) {
    if (!IsServerUrl(server.url)) return "not an http(s) address: " + server.url;
    if (HasLineBreak(server.token)) return "API token with a line break";
  }
  return std::nullopt;
}

std::optional<ShareSettings> ReadShareSettings(const std::string& path) {
  ShareSettings settings;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return settings;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  settings.servers.clear();
  std::string line;
  while (std::getline(in, line)) {
    const std::string_view text = Trim(line);
    const std::size_t eq = text.find('=');
    if (text.empty() || text.front() == '#' || eq == std::string_view::npos) continue;
    const std::string_view key = Trim(text.substr(0, eq));
    const std::string_view value = Trim(text.substr(eq + 1));
    if (key == "enabled") {
      settings.enabled = value == "1" || value == "yes" || value == "true";
    } else if (key == "callsign") {
      settings.station.callsign = value;
    } else if (key == "latitude") {
      ParseDouble(value, settings.station.latitude);
    } else if (key == "longitude") {
      ParseDouble(value, settings.station.longitude);
    } else if (key == "norad") {
      std::uint32_t id = 0;
      const auto [end, err] = std::from_chars(value.data(), value.data() + value.size(), id);
      if (err == std::errc() && end == value.data() + value.size()) settings.station.norad_id = id;
    } else if (key == "server") {
      settings.servers.push_back({std::string(value), ""});
    } else if (key == "token" && !settings.servers.empty()) {
      settings.servers.back().token = value;
    }
  }
  if (in.bad()) return std::nullopt;
  return settings;
}

std::optional<std::string> WriteShareSettings(const std::string& path,
                                              const ShareSettings& settings) {
  const ShareStation& s = settings.station;
  if (HasLineBreak(s.callsign)) return "the callsign holds a line break";
  std::ostringstream text;
  text << "enabled=" << (settings.enabled ? 1 : 0) << '\n'
       << "callsign=" << s.callsign << '\n'
       << "latitude=" << NumberText(s.latitude) << '\n'
       << "longitude=" << NumberText(s.longitude) << '\n'
       << "norad=" << s.norad_id << '\n';
  for (const ShareServer& server : settings.servers) {
    if (HasLineBreak(server.url) || HasLineBreak(server.token))
      return "a server address or token holds a line break";
    text << "server=" << server.url << '\n';
    if (!server.token.empty()) text << "token=" << server.token << '\n';
  }
  // The folder of the settings may not be there yet (a user's configuration folder).
  std::error_code dir_error;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, dir_error);
  const std::string temporary = path + ".new";
  const std::string content = text.str();
  // Only the owner may read the file: it may hold API tokens.
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "wb");
  if (file == nullptr) {
    const std::string reason = temporary + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return reason;
  }
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  const int write_errno = errno;
  if (std::fclose(file) != 0 || !written) {
    std::remove(temporary.c_str());
    return path + ": " + std::strerror(written ? errno : write_errno);
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::remove(temporary.c_str());
    return path + ": " + ec.message();
  }
  return std::nullopt;
}

std::string ShareSettingsPathBeside(const std::string& settings_file) {
  return (std::filesystem::path(settings_file).parent_path() / kShareSettingsFileName).string();
}

}  // namespace zevrin
