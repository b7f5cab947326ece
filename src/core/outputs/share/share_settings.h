#pragma once
// The sharing settings: a file of their own beside the three-line settings file,
// "zevrinkiss-share.ini", one "key=value" per line.
//
//   enabled=1
//   callsign=DL1ABC
//   latitude=49.73145
//   longitude=8.95564
//   norad=99999
//   server=https://db.satnogs.org/api/telemetry/
//   token=0123abcd            (the API token of the server above it; optional)
//   server=https://telemetry.example.org/sids
//
// "server" may appear up to kShareServersMax times; each "token" belongs to the
// server line before it. The reader takes at most kShareSettingsBytesMax bytes and
// lines of at most kShareSettingsLineMax bytes, and says what it left out.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outputs/share/sids.h"

namespace zevrin {

inline constexpr std::string_view kShareSettingsFileName = "zevrinkiss-share.ini";
/// The preset server: the community's telemetry database.
inline constexpr std::string_view kSatnogsDbUrl = "https://db.satnogs.org/api/telemetry/";
/// The most of the file that is read; the rest is left out.
inline constexpr std::size_t kShareSettingsBytesMax = 64 * 1024;
/// The longest line that is taken (without its line break); longer ones are left out.
inline constexpr std::size_t kShareSettingsLineMax = 1024;
/// The most servers that are taken; those after them are left out.
inline constexpr std::size_t kShareServersMax = 16;

struct ShareServer {
  std::string url;
  std::string token;  // empty: no Authorization header
  bool operator==(const ShareServer&) const = default;
};

struct ShareSettings {
  bool enabled = false;  // off until the user turns it on
  ShareStation station;
  std::vector<ShareServer> servers{{std::string(kSatnogsDbUrl), ""}};
};

/// Why frames are not shared with these settings, or nullopt when they are: sharing
/// turned off, no callsign, the position 0, 0 or out of range, no NORAD number, no
/// server, or a server address that is not http(s).
std::optional<std::string> SharingOffReason(const ShareSettings& settings);

/// True for an address libcurl is allowed to post to: http:// or https:// (in any
/// case) and a host, without spaces or control characters.
bool IsServerUrl(std::string_view url);

/// Why a server of these settings can never be posted to, whether sharing is on or
/// not: an address that is not http(s), an API token with a line break or another
/// control character. Nullopt when every server can be used.
std::optional<std::string> UnusableServerReason(const ShareSettings& settings);

/// The address with the password of its user part ("user:password@") replaced by
/// "***": what messages and the status show, and what the queue is keyed by, so that
/// no password leaves the settings file. Other addresses come back unchanged.
std::string WithoutPassword(std::string_view url);

/// Reads the file at `path`. A missing file gives the defaults (sharing off, the
/// preset server); a file that cannot be read gives nullopt. Unknown keys and
/// malformed numbers are ignored, leaving the default. What the limits above leave
/// out is added to `cut` (when given) as sentences to show: the bytes after the
/// first kShareSettingsBytesMax, overlong lines (with the server of an overlong
/// token, which would be refused without it), the servers after kShareServersMax.
std::optional<ShareSettings> ReadShareSettings(const std::string& path,
                                               std::vector<std::string>* cut = nullptr);

/// Writes the settings anew (through a temporary file renamed over the old one, so a
/// failure never leaves half a file). Returns the reason of a failure, or nullopt.
std::optional<std::string> WriteShareSettings(const std::string& path,
                                              const ShareSettings& settings);

/// The settings file that lies beside the three-line settings file at `settings_file`.
std::string ShareSettingsPathBeside(const std::string& settings_file);

}  // namespace zevrin
