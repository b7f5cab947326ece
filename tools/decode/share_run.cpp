#include "decode/share_run.h"

#include <vector>

namespace zevrin {

namespace {

// However long the servers take, the tool ends after this; what was not sent waits
// in the archive for the next run.
constexpr auto kLongestFinish = std::chrono::minutes(30);

}  // namespace

const char* const kShareUsage =
    "  --share FILE      send the satellite's frames that go into the --archive to the\n"
    "                    telemetry servers of the sharing settings FILE (as the\n"
    "                    desktop program's zevrinkiss-share.ini); frames that cannot\n"
    "                    be sent now wait in the archive for the next --share run.\n"
    "                    A recording is shared as received at the times the archive\n"
    "                    gives its frames.\n";

bool TakeShareOption(int argc, char** argv, int& i, std::string& settings_path,
                     std::string& error) {
  const std::string arg = argv[i];
  if (arg == "--share") {
    if (i + 1 >= argc) {
      error = "--share needs the sharing settings file";
      return true;
    }
    settings_path = argv[++i];
  } else if (arg.starts_with("--share=")) {
    settings_path = arg.substr(8);
  } else {
    return false;
  }
  if (settings_path.empty()) error = "--share needs the sharing settings file";
  return true;
}

std::unique_ptr<ShareRun> ShareRun::Create(const std::string& settings_path,
                                           const ReplayOptions& replay, ReplayRun& run,
                                           std::FILE* messages, std::string& error) {
  if (replay.archive.empty()) {
    error = "--share needs --archive FILE: frames wait there until a server has them";
    return nullptr;
  }
  std::vector<std::string> cut;
  std::optional<ShareSettings> settings = ReadShareSettings(settings_path, &cut);
  if (!settings) {
    error = "cannot read the sharing settings " + settings_path;
    return nullptr;
  }
  // Frames archived now are never queued later: settings that can never share end
  // the run before anything is archived, so the mended file finds them still to do.
  if (const std::optional<std::string> reason = UnusableServerReason(*settings)) {
    error = "unusable sharing settings " + settings_path + ": " + *reason;
    return nullptr;
  }
  for (const std::string& what : cut)
    std::fprintf(messages, "zevrinkiss-decode: --share: %s: %s\n", settings_path.c_str(),
                 what.c_str());
  if (const std::optional<std::string> reason = SharingOffReason(*settings)) {
    std::fprintf(messages, "zevrinkiss-decode: --share: nothing is shared (%s)\n", reason->c_str());
  } else {
    std::fprintf(messages,
                 "zevrinkiss-decode: warning: --share sends the satellite's frames to %zu "
                 "server(s) as received by %s at the times the archive gives them; a "
                 "recording's frames go out only with the times it kept for each (KISS "
                 "time stamps, a capture), never with times worked out from its name, "
                 "its file's date or --start-time\n",
                 settings->servers.size(), settings->station.callsign.c_str());
  }
  std::unique_ptr<ShareRun> share(new ShareRun(std::move(*settings), replay.archive, messages));
  run.AddArchiveExtension(&share->sharer_);
  return share;
}

ShareRun::ShareRun(ShareSettings settings, std::string archive, std::FILE* messages)
    : settings_(std::move(settings)), archive_(std::move(archive)), messages_(messages) {
  sharer_.Configure(settings_);
}

void ShareRun::Start() {
  sender_ = std::make_unique<ShareSender>(archive_);
  sender_->Configure(settings_);
  sharer_.SetSender(sender_.get());
}

void ShareRun::Finish() {
  if (!sender_ || SharingOffReason(settings_)) return;
  sender_->Wake();
  sender_->WaitUntilSettled(kLongestFinish);
  for (const ServerStatus& server : sender_->Status().servers) {
    std::fprintf(
        messages_, "zevrinkiss-decode: shared with %s: %llu sent, %lld waiting, %lld refused%s%s\n",
        server.url.c_str(), static_cast<unsigned long long>(server.sent),
        static_cast<long long>(server.waiting), static_cast<long long>(server.refused),
        server.last_problem.empty() ? "" : "; last problem: ", server.last_problem.c_str());
  }
}

}  // namespace zevrin
