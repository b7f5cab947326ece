#pragma once
// An archive filled on a thread of its own, so that a receiver replaying
// recordings goes on decoding while SQLite writes.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "outputs/archive/archive_batch.h"
#include "outputs/archive/archive_writer.h"

namespace zevrin {

/// Gathers frames into batches on the caller's thread and writes each batch,
/// one transaction, on the archive's own thread, through an ArchiveWriter with
/// the same rules (notices, retries, duplicates). Notices reach the listener on
/// the caller's thread, as frames are handed over, at Flush(), DeliverNotices()
/// and Close().
///
/// Without `queue_frames`, at most a few batches wait for the writer: a caller
/// faster than SQLite waits. With it, the caller never waits: while the archive
/// cannot take frames (locked by another program, a full disk, held back) they
/// are kept, up to that many, and written once it can; a batch beyond the
/// limit is missed, and the notice says how many.
class ArchiveThread final : public FrameSink {
 public:
  /// `listener` may be null. `options.batch_frames` is the size of a batch.
  ArchiveThread(LogProblemListener* listener, ArchiveWriterOptions options);
  ~ArchiveThread() override;
  ArchiveThread(const ArchiveThread&) = delete;
  ArchiveThread& operator=(const ArchiveThread&) = delete;

  /// Must be called before Open; the extension is then used on the archive's
  /// thread only.
  void AddExtension(ArchiveExtension* extension) { writer_.AddExtension(extension); }
  /// Opens the archive at `path` and starts the thread. False (with
  /// open_error() set) when it cannot be opened; frames are then counted as
  /// lost until a retry succeeds, as with ArchiveWriter. With `on_thread` the
  /// thread opens it, so that the caller never waits for another program
  /// holding it; a failure then reaches the listener as a notice.
  bool Open(const std::string& path, bool on_thread = false);
  const std::string& open_error() const { return open_error_; }
  /// Writes every frame handed over, stops the thread and closes the archive.
  void Close();

  void FrameDecoded(const DecodedFrame& frame) override;
  /// Hands the batch begun over to the archive's thread.
  void Flush() override;
  /// Hands the batch begun over and waits until every frame handed over is
  /// written (or counted as lost).
  void Drain();

  /// Runs `task` on the archive's thread after the frames handed over before it,
  /// in a transaction of its own; kept and run again like frames while the
  /// archive is locked or the disk full. Does not count against `queue_frames`.
  void Post(ArchiveTask task);
  /// While `held`, nothing is written: frames are kept as while the archive is
  /// locked. For the raw log to have the disk first while it cannot be written.
  void Hold(bool held);
  /// Passes on the notices the archive's thread has told since the last call.
  void DeliverNotices();

  const std::string& path() const { return writer_.path(); }
  /// Valid after Drain() or Close().
  std::uint64_t added() const { return writer_.added(); }
  std::uint64_t duplicates() const { return writer_.duplicates(); }
  std::uint64_t lost() const { return writer_.lost(); }

 private:
  // Keeps the writer's notices for the caller's thread.
  class Relay final : public LogProblemListener {
   public:
    explicit Relay(ArchiveThread& owner) : owner_(owner) {}
    void LogNoticeChanged(const LogNotice& notice) override;

   private:
    ArchiveThread& owner_;
  };

  // A batch waiting for the writer, from its first frame not written yet.
  struct Waiting {
    ArchiveBatch batch;
    std::size_t from = 0;
    ArchiveTask task;  // instead of a batch
  };

  void Run();
  void HandOver();
  // Hands `current_` over; returns false when it does not fit (bounded queue).
  bool Enqueue();
  // With the lock held: the writer's turn for the first waiting batch.
  void WriteFirst(std::unique_lock<std::mutex>& lock);
  // Whether the archive's file system has less than the reserve free.
  bool ShortOfSpace() const;
  // Why frames wait, for the notice of those that cannot.
  std::string WaitingReason() const;

  LogProblemListener* listener_;
  Relay relay_{*this};
  ArchiveWriter writer_;
  std::size_t batch_frames_;
  std::size_t queue_frames_;  // 0: the caller waits
  std::uint64_t reserve_bytes_;
  std::string directory_;  // the archive's folder, whose free space is checked
  ArchiveBatch current_;
  std::string open_error_;

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable work_;   // a batch is waiting, or stop_
  std::condition_variable space_;  // a batch was written or taken
  std::deque<Waiting> waiting_;
  std::size_t waiting_frames_ = 0;
  bool held_ = false;
  bool short_of_space_ = false;      // the last look found less than the reserve free
  std::uint64_t dropped_ = 0;        // frames that found the queue full, not told yet
  std::int64_t dropped_ms_ = 0;      // the last one's reception time
  std::vector<ArchiveBatch> spare_;  // written batches, storage kept for reuse
  bool stop_ = false;
  bool writing_ = false;  // the thread is writing a batch it took
  // Notices not passed on yet: consecutive ones of the same state are merged,
  // as each holds the counts so far.
  std::vector<LogNotice> notices_;
  std::atomic<bool> has_notices_{false};
};

}  // namespace zevrin
