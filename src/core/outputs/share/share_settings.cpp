#include "outputs/share/share_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/file_head.h"
#include "base/private_file.h"
#include "base/settings_text.h"

namespace zevrin {

namespace {

bool ParseDouble(std::string_view text, double& out) {
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return false;
  out = value;
  return true;
}

// The settings file, read line by line, and what the limits leave out of it.
struct SettingsReading {
  ShareSettings settings;
  std::vector<std::string> cut;
  std::size_t servers_left_out = 0;
  bool server_left_out = false;  // the tokens after it are left out with it

  // `whole` is false for the line the byte limit falls in.
  void Take(std::string_view line, std::size_t number, bool whole) {
    const std::string_view text = TrimSettingText(line);
    const std::size_t eq = text.find('=');
    if (text.empty() || text.front() == '#' || (whole && eq == std::string_view::npos)) return;
    const std::string_view key =
        TrimSettingText(text.substr(0, eq));  // a cut line may end in its key
    if (!whole || line.size() > kShareSettingsLineMax) {
      std::string why = "line " + std::to_string(number) +
                        (whole ? " is longer than " + std::to_string(kShareSettingsLineMax) +
                                     " bytes and is left out"
                               : " is cut by the byte limit and is left out");
      // A server without the token given for it would refuse every frame for good.
      const bool token = key == "token";
      if (token && !server_left_out && !settings.servers.empty()) {
        why += ", with the server " + settings.servers.back().url + " it belongs to";
        settings.servers.pop_back();
      }
      server_left_out = server_left_out || key == "server" || token;
      cut.push_back(std::move(why));
      return;
    }
    TakeValue(key, TrimSettingText(text.substr(eq + 1)));
  }

  void TakeValue(std::string_view key, std::string_view value) {
    ShareStation& station = settings.station;
    if (key == "enabled") {
      settings.enabled = value == "1" || value == "yes" || value == "true";
    } else if (key == "callsign") {
      station.callsign = value;
    } else if (key == "latitude") {
      ParseDouble(value, station.latitude);
    } else if (key == "longitude") {
      ParseDouble(value, station.longitude);
    } else if (key == "norad") {
      std::uint32_t id = 0;
      const auto [end, err] = std::from_chars(value.data(), value.data() + value.size(), id);
      if (err == std::errc() && end == value.data() + value.size()) station.norad_id = id;
    } else if (key == "server") {
      server_left_out = settings.servers.size() >= kShareServersMax;
      if (server_left_out) {
        ++servers_left_out;
      } else {
        settings.servers.push_back({std::string(value), ""});
      }
    } else if (key == "token" && !server_left_out && !settings.servers.empty()) {
      settings.servers.back().token = value;
    }
  }
};

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
      return !rest.empty() && rest.front() != '/' && rest.find(' ') == std::string_view::npos &&
             !HasControlCharacter(rest);
    }
  }
  return false;
}

std::string WithoutPassword(std::string_view url) {
  constexpr std::string_view kMask = "***";
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  const std::size_t start = scheme + 3;
  const std::string_view authority = url.substr(start, url.find_first_of("/?#", start) - start);
  const std::size_t at = authority.rfind('@');
  const std::size_t colon = authority.substr(0, at).find(':');
  if (at == std::string_view::npos || colon == std::string_view::npos) return std::string(url);
  return std::string(url.substr(0, start + colon + 1)) + std::string(kMask) +
         std::string(url.substr(start + at));
}

std::optional<std::string> UnusableServerReason(const ShareSettings& settings) {
  for (const ShareServer& server : settings.servers) {
    if (!IsServerUrl(server.url)) return "not an http(s) address: " + WithoutPassword(server.url);
    if (HasLineBreak(server.token)) return "API token with a line break";
    if (HasControlCharacter(server.token)) return "API token with a control character";
  }
  return std::nullopt;
}

std::optional<std::string> SharingOffReason(const ShareSettings& settings) {
  const ShareStation& s = settings.station;
  if (!settings.enabled) return "not turned on";
  if (TrimSettingText(s.callsign).empty()) return "no callsign";
  if (s.latitude == 0.0 && s.longitude == 0.0) return "no position (latitude and longitude are 0)";
  if (!(std::fabs(s.latitude) <= 90.0) || !(std::fabs(s.longitude) <= 180.0))
    return "position out of range";
  if (s.norad_id == 0) return "no NORAD catalogue number";
  if (settings.servers.empty()) return "no server";
  return UnusableServerReason(settings);
}

std::optional<ShareSettings> ReadShareSettings(const std::string& path,
                                               std::vector<std::string>* cut) {
  SettingsReading reading;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return reading.settings;
  const std::optional<SettingsFileHead> file = ReadSettingsFileHead(path, kShareSettingsBytesMax);
  if (!file) return std::nullopt;
  if (file->cut)
    reading.cut.push_back("only the first " + std::to_string(kShareSettingsBytesMax) +
                          " bytes of the file are read");
  reading.settings.servers.clear();
  std::string_view rest = file->text;
  std::size_t number = 1;
  for (; !rest.empty(); ++number) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    reading.Take(rest.substr(0, end), number, true);
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  // The line the byte limit falls in is not whole.
  if (!file->cut_line.empty()) reading.Take(file->cut_line, number, false);
  std::vector<ShareServer>& servers = reading.settings.servers;
  if (file->cut && !reading.server_left_out && !servers.empty() && servers.back().token.empty()) {
    // Its token may lie in what was not read, and without it every frame is refused.
    reading.cut.push_back("the server " + WithoutPassword(servers.back().url) +
                          " is left out: its token may come after the byte limit");
    servers.pop_back();
  }
  if (reading.servers_left_out > 0)
    reading.cut.push_back(std::to_string(reading.servers_left_out) + " server(s) after the first " +
                          std::to_string(kShareServersMax) + " left out");
  if (cut != nullptr) cut->insert(cut->end(), reading.cut.begin(), reading.cut.end());
  return std::move(reading.settings);
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
  // Only the owner may read the file: it may hold API tokens.
  return WritePrivateFile(path, text.str());
}

std::string ShareSettingsPathBeside(const std::string& settings_file) {
  return (std::filesystem::path(settings_file).parent_path() / kShareSettingsFileName).string();
}

}  // namespace zevrin
