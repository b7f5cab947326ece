#include "outputs/influx/influx_feed.h"

#include "outputs/influx/influx_sender.h"

namespace zevrin {

bool InfluxFeed::CreateTables(sqlite3* db) {
  // The archive's schema holds the table; the queue only prepares its statement.
  queue_ = std::make_unique<InfluxQueue>(db);
  return true;
}

void InfluxFeed::SetSender(InfluxSender* sender) {
  const std::lock_guard lock(mutex_);
  sender_ = sender;
}

bool InfluxFeed::FrameAdded(sqlite3* db, const DecodedFrame& frame, std::int64_t frame_id) {
  if (!enabled_ || frame.record == RecordKind::kNone) return true;
  if (!queue_) queue_ = std::make_unique<InfluxQueue>(db);
  if (!queue_->Add(frame_id)) return false;
  pending_ = true;
  return true;
}

void InfluxFeed::Committed() {
  if (!pending_) return;
  pending_ = false;
  const std::lock_guard lock(mutex_);
  if (sender_ != nullptr) sender_->Wake();
}

void InfluxFeed::Closing() { queue_.reset(); }

}  // namespace zevrin
