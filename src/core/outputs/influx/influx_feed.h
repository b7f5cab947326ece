#pragma once
// Queues every housekeeping record for the InfluxDB feed in the archive, in the
// transaction that archives the record, and wakes the sender once it is committed.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "outputs/archive/archive_writer.h"
#include "outputs/influx/influx_queue.h"

namespace zevrin {

class InfluxSender;

/// Add it to the archive writer as an extension, before the writer opens the
/// archive. The archive may write on a thread of its own: Enable() and
/// SetSender() may be called from any thread.
class InfluxFeed final : public ArchiveExtension {
 public:
  /// Records are queued from the next frame on while enabled.
  void Enable(bool on) { enabled_ = on; }
  /// Woken after each commit that queued points; null for none. Once this
  /// returns, the sender replaced is not woken any more.
  void SetSender(InfluxSender* sender);

  // ArchiveExtension.
  bool CreateTables(sqlite3* db) override;
  bool FrameAdded(sqlite3* db, const DecodedFrame& frame, std::int64_t frame_id) override;
  void Committed() override;
  void Closing() override;

 private:
  std::atomic<bool> enabled_{false};
  std::mutex mutex_;  // guards sender_
  InfluxSender* sender_ = nullptr;
  // Used on the archive's thread only.
  std::unique_ptr<InfluxQueue> queue_;
  bool pending_ = false;  // points queued that the sender has not been told of
};

}  // namespace zevrin
