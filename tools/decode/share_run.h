#pragma once
// --share for zevrinkiss-decode: the satellite's frames that go into the archive
// are queued there and sent to the telemetry servers of a sharing settings file.

#include <cstdio>
#include <memory>
#include <string>

#include "decode/replay_run.h"
#include "outputs/share/frame_sharer.h"
#include "outputs/share/share_sender.h"

namespace zevrin {

/// The --help lines of --share.
extern const char* const kShareUsage;

/// Takes --share FILE (or --share=FILE) at argv[i], moving i past the value.
/// Returns false when argv[i] is something else; `error` is set for a bad value.
bool TakeShareOption(int argc, char** argv, int& i, std::string& settings_path, std::string& error);

/// Sharing beside a replay run: the run archives each frame, queueing the
/// satellite's frames in the same transaction, and the sender is told of them
/// once they are committed.
class ShareRun {
 public:
  /// Reads the settings, warns on `messages` what is going to be shared and how,
  /// and what the settings reader left out, and joins the run's archive. Null with
  /// `error` set when there is no archive to keep the queue in or the settings
  /// cannot be read or name a server that can never be posted to.
  static std::unique_ptr<ShareRun> Create(const std::string& settings_path,
                                          const ReplayOptions& replay, ReplayRun& run,
                                          std::FILE* messages, std::string& error);

  /// Starts sending; call after the run has opened the archive.
  void Start();
  /// Waits until everything that can be sent now has been tried, and says on
  /// `messages` what was sent and what waits for a later run.
  void Finish();

 private:
  ShareRun(ShareSettings settings, std::string archive, std::FILE* messages);

  ShareSettings settings_;
  std::string archive_;
  std::FILE* messages_;
  FrameSharer sharer_;
  std::unique_ptr<ShareSender> sender_;
};

}  // namespace zevrin
