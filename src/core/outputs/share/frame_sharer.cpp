#include "outputs/share/frame_sharer.h"

#include "frames/frame_header.h"

namespace zevrin {

namespace {

UtcInstant FromMilliseconds(std::int64_t ms) {
  std::int64_t seconds = ms / 1000;
  std::int64_t rest = ms % 1000;
  if (rest < 0) {
    rest += 1000;
    --seconds;
  }
  return {seconds, static_cast<int>(rest)};
}

}  // namespace

bool FrameSharer::CreateTables(sqlite3* db) {
  db_ = db;
  queue_ = std::make_unique<ShareQueue>(db);
  return queue_->ok();
}

void FrameSharer::SetSender(ShareSender* sender) {
  const std::lock_guard lock(mutex_);
  sender_ = sender;
}

void FrameSharer::Configure(const ShareSettings& settings) {
  const std::lock_guard lock(mutex_);
  settings_ = settings;
}

ShareSettings FrameSharer::settings() const {
  const std::lock_guard lock(mutex_);
  return settings_;
}

bool FrameSharer::FrameAdded(sqlite3* db, const DecodedFrame& frame, std::int64_t frame_id) {
  const std::lock_guard lock(mutex_);
  if (SharingOffReason(settings_)) return true;
  UnescapedFrame unescaped;
  FrameHeader header;
  DecodeFrameHeader(frame.bytes, unescaped, header);
  if (!IsSharedFrame(unescaped, header)) return true;
  if (!queue_ || db != db_) queue_ = std::make_unique<ShareQueue>(db);
  db_ = db;
  std::vector<std::string> urls;
  for (const ShareServer& server : settings_.servers) urls.push_back(server.url);
  const UtcInstant received = FromMilliseconds(frame.received_ms);
  const std::string form = SidsForm(settings_.station, received, SidsFrameHex(unescaped));
  if (!queue_->Enqueue(SidsTimestamp(received), form, urls, frame_id)) return false;
  pending_ = true;
  ++queued_;
  return true;
}

void FrameSharer::Closing() {
  queue_.reset();
  db_ = nullptr;
}

void FrameSharer::Committed() {
  const std::lock_guard lock(mutex_);
  if (!pending_ || sender_ == nullptr) return;
  pending_ = false;
  sender_->Wake();
}

}  // namespace zevrin
