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
/// the caller's thread, as frames are handed over, at Flush() and at Close().
/// At most a few batches wait for the writer: a caller faster than SQLite waits.
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
  /// lost until a retry succeeds, as with ArchiveWriter.
  bool Open(const std::string& path);
  const std::string& open_error() const { return open_error_; }
  /// Writes every frame handed over, stops the thread and closes the archive.
  void Close();

  void FrameDecoded(const DecodedFrame& frame) override;
  /// Hands the batch begun over to the archive's thread.
  void Flush() override;
  /// Hands the batch begun over and waits until every frame handed over is
  /// written (or counted as lost).
  void Drain();

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

  void Run();
  void HandOver();
  void Deliver();

  LogProblemListener* listener_;
  Relay relay_{*this};
  ArchiveWriter writer_;
  std::size_t batch_frames_;
  ArchiveBatch current_;
  std::string open_error_;

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable work_;   // a batch is waiting, or stop_
  std::condition_variable space_;  // a batch was written or taken
  std::deque<ArchiveBatch> waiting_;
  std::vector<ArchiveBatch> spare_;  // written batches, storage kept for reuse
  bool stop_ = false;
  bool writing_ = false;  // the thread is writing a batch it took
  // Notices not passed on yet: consecutive ones of the same state are merged,
  // as each holds the counts so far.
  std::vector<LogNotice> notices_;
  std::atomic<bool> has_notices_{false};
};

}  // namespace zevrin
