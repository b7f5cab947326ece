#include "outputs/influx/influx_feed.h"

#include "outputs/export/line_protocol.h"
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

bool InfluxFeed::FrameAdded(sqlite3* db, const DecodedFrame& frame, std::int64_t,
                            std::span<const StoredValue> values) {
  if (!enabled_ || frame.record == RecordKind::kNone) return true;
  const std::string line =
      LineProtocolOfValues(frame.record, frame.station, frame.received_ms, values);
  if (line.empty()) return true;
  if (!queue_) queue_ = std::make_unique<InfluxQueue>(db);
  if (!queue_->Add(line)) return false;
  pending_ = true;
  ++queued_;
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
