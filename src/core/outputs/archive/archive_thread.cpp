#include "outputs/archive/archive_thread.h"

#include <pthread.h>

#include <algorithm>
#include <utility>

namespace zevrin {

namespace {

// Batches handed over and not yet taken by the writer.
constexpr std::size_t kWaitingBatches = 2;

}  // namespace

ArchiveThread::ArchiveThread(LogProblemListener* listener, ArchiveWriterOptions options)
    : listener_(listener),
      writer_(&relay_, options),
      batch_frames_(static_cast<std::size_t>(std::max(options.batch_frames, 1))) {}

ArchiveThread::~ArchiveThread() {
  listener_ = nullptr;
  Close();
}

bool ArchiveThread::Open(const std::string& path) {
  Close();
  const bool opened = writer_.Open(path);
  open_error_ = opened ? std::string() : writer_.error();
  stop_ = false;
  thread_ = std::thread([this] {
    // Named for top -H and debuggers.
    pthread_setname_np(pthread_self(), "zevrin-archive");
    Run();
  });
  return opened;
}

void ArchiveThread::Close() {
  HandOver();
  if (thread_.joinable()) {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    work_.notify_all();
    thread_.join();
  }
  writer_.Close();
  Deliver();
}

void ArchiveThread::FrameDecoded(const DecodedFrame& frame) {
  current_.Add(frame);
  if (current_.size() >= batch_frames_) HandOver();
  if (has_notices_.load(std::memory_order_relaxed)) Deliver();
}

void ArchiveThread::Flush() {
  HandOver();
  Deliver();
}

void ArchiveThread::Drain() {
  HandOver();
  {
    std::unique_lock lock(mutex_);
    space_.wait(lock, [&] { return waiting_.empty() && !writing_; });
  }
  Deliver();
}

void ArchiveThread::HandOver() {
  if (current_.empty()) return;
  if (!thread_.joinable()) {
    // Not opened (or closed): the writer counts the frames as lost.
    writer_.WriteBatch(current_);
    current_.Clear();
    return;
  }
  ArchiveBatch next;
  {
    std::unique_lock lock(mutex_);
    space_.wait(lock, [&] { return waiting_.size() < kWaitingBatches; });
    waiting_.push_back(std::exchange(current_, ArchiveBatch{}));
    if (!spare_.empty()) {
      next = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  work_.notify_one();
  current_ = std::move(next);
}

void ArchiveThread::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return stop_ || !waiting_.empty(); });
    if (waiting_.empty()) return;  // stopped, and everything written
    ArchiveBatch batch = std::move(waiting_.front());
    waiting_.pop_front();
    writing_ = true;
    lock.unlock();
    writer_.WriteBatch(batch);
    batch.Clear();
    lock.lock();
    writing_ = false;
    spare_.push_back(std::move(batch));
    space_.notify_all();
  }
}

void ArchiveThread::Relay::LogNoticeChanged(const LogNotice& notice) {
  const std::lock_guard lock(owner_.mutex_);
  std::vector<LogNotice>& notices = owner_.notices_;
  if (!notices.empty() && notices.back().complete_now == notice.complete_now) {
    notices.back() = notice;
  } else {
    notices.push_back(notice);
  }
  owner_.has_notices_.store(true, std::memory_order_relaxed);
}

void ArchiveThread::Deliver() {
  std::vector<LogNotice> notices;
  {
    const std::lock_guard lock(mutex_);
    notices.swap(notices_);
    has_notices_.store(false, std::memory_order_relaxed);
  }
  if (listener_ == nullptr) return;
  for (const LogNotice& notice : notices) listener_->LogNoticeChanged(notice);
}

}  // namespace zevrin
