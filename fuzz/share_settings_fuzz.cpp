// The sharing settings file "zevrinkiss-share.ini" and the server addresses in
// it. Every byte sequence is read; what was read must be written and read back
// as the same settings (or refused by the writer with a reason), what the limits
// left out must be told, and every reason to refuse a server must name it.

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "outputs/share/share_settings.h"

namespace {

using zevrin::fuzz::Require;

// Numbers compare by their bits: -0 must stay -0.
bool SameNumber(double a, double b) { return a == b && std::signbit(a) == std::signbit(b); }

bool SameSettings(const zevrin::ShareSettings& a, const zevrin::ShareSettings& b) {
  return a.enabled == b.enabled && a.station.callsign == b.station.callsign &&
         SameNumber(a.station.latitude, b.station.latitude) &&
         SameNumber(a.station.longitude, b.station.longitude) &&
         a.station.norad_id == b.station.norad_id && a.servers == b.servers;
}

void CheckServer(const zevrin::ShareServer& server) {
  const std::string shown = zevrin::WithoutPassword(server.url);
  Require(zevrin::WithoutPassword(shown) == shown, "masking a masked address changes nothing");
  // The queue is keyed by the masked address: a usable one must stay usable.
  Require(!zevrin::IsServerUrl(server.url) || zevrin::IsServerUrl(shown),
          "masking keeps an address usable", server.url);
  zevrin::ShareSettings alone;
  alone.servers = {server};
  if (const auto reason = zevrin::UnusableServerReason(alone)) {
    Require(!reason->empty(), "a refused server has a reason");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const zevrin::fuzz::ScratchFile file("share.ini");
  static const zevrin::fuzz::ScratchFile copy("share-copy.ini");
  const std::string_view text = zevrin::fuzz::AsText(data, size);
  Require(file.Write(text), "scratch file written");
  std::vector<std::string> cut;
  const auto settings = zevrin::ReadShareSettings(file.path(), &cut);
  Require(settings.has_value(), "every file is read");
  for (const std::string& told : cut) Require(!told.empty(), "what is left out is told");
  Require(settings->servers.size() <= zevrin::kShareServersMax, "no more servers than the limit");
  if (size > zevrin::kShareSettingsBytesMax) Require(!cut.empty(), "a file cut short is told");
  for (const zevrin::ShareServer& server : settings->servers) CheckServer(server);
  if (const auto reason = zevrin::SharingOffReason(*settings)) {
    Require(!reason->empty(), "sharing off has a reason");
  }

  if (const auto refused = zevrin::WriteShareSettings(copy.path(), *settings)) {
    Require(!refused->empty(), "a refused write has a reason");
    return 0;
  }
  std::vector<std::string> cut_again;
  const auto back = zevrin::ReadShareSettings(copy.path(), &cut_again);
  Require(back.has_value() && cut_again.empty(), "written settings read back whole");
  Require(SameSettings(*settings, *back), "the settings read back as written");
  return 0;
}
