#include "outputs/archive/archive_thread.h"

#include <pthread.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <utility>

namespace zevrin {

namespace {

// Batches handed over and not yet taken by the writer, when the caller waits.
constexpr std::size_t kWaitingBatches = 2;
// How long kept frames wait before the next try after a failure that passes; a
// lock has made the writer wait its busy timeout already.
constexpr std::chrono::milliseconds kRetryInterval{500};
constexpr std::string_view kHeldReason = "held back while the raw log cannot be written";
constexpr std::string_view kSpaceReason =
    "the disk is almost full; its last space is kept for the raw log";

}  // namespace

ArchiveThread::ArchiveThread(LogProblemListener* listener, ArchiveWriterOptions options)
    : listener_(listener),
      writer_(&relay_, options),
      batch_frames_(static_cast<std::size_t>(std::max(options.batch_frames, 1))),
      queue_frames_(options.queue_frames),
      reserve_bytes_(options.reserve_bytes) {}

ArchiveThread::~ArchiveThread() {
  listener_ = nullptr;
  Close();
}

bool ArchiveThread::Open(const std::string& path, bool on_thread) {
  Close();
  const std::size_t slash = path.rfind('/');
  directory_ = slash == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(slash, 1));
  bool opened = true;
  if (on_thread) {
    writer_.Defer(path);
  } else {
    opened = writer_.Open(path);
  }
  open_error_ = opened ? std::string() : writer_.error();
  stop_ = false;
  thread_ = std::thread([this, on_thread] {
    // Named for top -H and debuggers.
    pthread_setname_np(pthread_self(), "zevrin-archive");
    if (on_thread) writer_.OpenDeferred();
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
  DeliverNotices();
}

void ArchiveThread::FrameDecoded(const DecodedFrame& frame) {
  current_.Add(frame);
  if (current_.size() >= batch_frames_) HandOver();
  if (has_notices_.load(std::memory_order_relaxed)) DeliverNotices();
}

void ArchiveThread::Flush() {
  HandOver();
  DeliverNotices();
}

void ArchiveThread::Drain() {
  HandOver();
  {
    std::unique_lock lock(mutex_);
    space_.wait(lock, [&] { return waiting_.empty() && !writing_ && dropped_ == 0; });
  }
  DeliverNotices();
}

void ArchiveThread::Post(ArchiveTask task) {
  HandOver();
  if (!thread_.joinable()) {
    writer_.RunTask(task, false);
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    waiting_.push_back({ArchiveBatch{}, 0, std::move(task)});
  }
  work_.notify_one();
}

void ArchiveThread::Hold(bool held) {
  {
    const std::lock_guard lock(mutex_);
    if (held_ == held) return;
    held_ = held;
  }
  work_.notify_all();
}

void ArchiveThread::HandOver() {
  if (current_.empty()) return;
  if (!thread_.joinable()) {
    // Not opened (or closed): the writer counts the frames as lost.
    writer_.WriteBatch(current_);
    current_.Clear();
    return;
  }
  if (!Enqueue()) current_.Clear();
  work_.notify_one();
}

bool ArchiveThread::Enqueue() {
  ArchiveBatch next;
  {
    std::unique_lock lock(mutex_);
    if (queue_frames_ == 0) {
      space_.wait(lock, [&] { return waiting_.size() < kWaitingBatches; });
    } else if (waiting_frames_ + current_.size() > queue_frames_) {
      dropped_ += current_.size();
      dropped_ms_ = current_.LastTime();
      return false;
    }
    waiting_frames_ += current_.size();
    waiting_.push_back({std::exchange(current_, ArchiveBatch{}), 0, {}});
    if (!spare_.empty()) {
      next = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  current_ = std::move(next);
  return true;
}

void ArchiveThread::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return stop_ || dropped_ > 0 || (!waiting_.empty() && !held_); });
    if (dropped_ > 0) {
      const std::uint64_t dropped = std::exchange(dropped_, 0);
      const std::int64_t last_ms = dropped_ms_;
      const std::string why = WaitingReason();
      lock.unlock();
      writer_.MissedWaiting(dropped, last_ms, why);
      lock.lock();
      space_.notify_all();
      continue;
    }
    if (waiting_.empty()) return;  // stopped, and everything written
    WriteFirst(lock);
  }
}

void ArchiveThread::WriteFirst(std::unique_lock<std::mutex>& lock) {
  Waiting item = std::move(waiting_.front());
  waiting_.pop_front();
  writing_ = true;
  // Frames are kept only while the receiver runs; at the end what cannot be
  // written is missed, so that closing never waits for another program.
  const bool keep = queue_frames_ > 0 && !stop_;
  lock.unlock();
  const bool short_of_space = keep && ShortOfSpace();
  bool done = false;
  if (!short_of_space && item.task) {
    done = writer_.RunTask(item.task, keep);
  } else if (!short_of_space) {
    item.from = writer_.WriteBatch(item.batch, item.from, keep);
    done = item.from == item.batch.size();
  }
  lock.lock();
  writing_ = false;
  short_of_space_ = short_of_space;
  if (!done) {
    waiting_.push_front(std::move(item));
    space_.notify_all();
    work_.wait_for(lock, kRetryInterval, [&] { return stop_ || dropped_ > 0; });
    return;
  }
  if (!item.task) {
    waiting_frames_ -= item.batch.size();
    item.batch.Clear();
    spare_.push_back(std::move(item.batch));
  }
  space_.notify_all();
}

bool ArchiveThread::ShortOfSpace() const {
  if (reserve_bytes_ == 0) return false;
  struct statvfs fs {};
  if (::statvfs(directory_.c_str(), &fs) != 0) return false;
  return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < reserve_bytes_;
}

std::string ArchiveThread::WaitingReason() const {
  if (held_) return std::string(kHeldReason);
  if (short_of_space_) return std::string(kSpaceReason);
  // Only this thread writes through the writer, and it is here.
  return writer_.error().empty() ? "the archive is busy" : writer_.error();
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

void ArchiveThread::DeliverNotices() {
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
