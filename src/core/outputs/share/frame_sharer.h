#pragma once
// Queues every frame of the satellite for sharing in the archive, in the same
// transaction that archives the frame, and tells the sender once it is committed.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "outputs/archive/archive_writer.h"
#include "outputs/share/share_queue.h"
#include "outputs/share/share_sender.h"
#include "outputs/share/share_settings.h"

namespace zevrin {

/// Add it to the archive writer as an extension, before the writer opens the
/// archive. The sender is woken once the frames queued are committed: a sender
/// woken earlier would not see them yet. The archive may write on a thread of
/// its own: the settings and the sender may be changed from any thread.
class FrameSharer final : public ArchiveExtension {
 public:
  /// `sender` may be null (set later) and must outlive this object otherwise.
  explicit FrameSharer(ShareSender* sender = nullptr) : sender_(sender) {}

  /// Once this returns, the sender replaced is not woken any more.
  void SetSender(ShareSender* sender);
  /// The settings in force from the next frame on.
  void Configure(const ShareSettings& settings);
  ShareSettings settings() const;
  /// Frames queued since the start.
  std::uint64_t queued() const { return queued_.load(); }

  // ArchiveExtension.
  bool CreateTables(sqlite3* db) override;
  bool FrameAdded(sqlite3* db, const DecodedFrame& frame, std::int64_t frame_id) override;
  void Committed() override;
  void Closing() override;

 private:
  mutable std::mutex mutex_;  // guards sender_ and settings_
  ShareSender* sender_;
  ShareSettings settings_;
  std::unique_ptr<ShareQueue> queue_;
  sqlite3* db_ = nullptr;  // the archive's connection while it is open
  bool pending_ = false;   // frames queued that the sender has not been told of
  std::atomic<std::uint64_t> queued_ = 0;
};

}  // namespace zevrin
