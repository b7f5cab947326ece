#pragma once
// The archive: one SQLite file per station label holding every frame received
// and the values of every housekeeping record, for trends across passes.
//
// Schema (version kArchiveSchemaVersion, in PRAGMA user_version), as people query it:
//   frames(id, received_ms, received, station, link, bytes, time_source)
//   power_housekeeping(frame_id, received_ms, received, <ArchiveColumns() of the power record>)
//   system_housekeeping(frame_id, received_ms, received, <ArchiveColumns() of the system record>)
// `received_ms` is the reception time in milliseconds since 1970 (UTC);
// `received` is the same time as text, "2026-12-06 13:12:00.123" (UTC). `frame_id`
// is the row of the frame in `frames`. `time_source` is where the time came from
// (TimeSourceName: "live", "kiss", "pcap", "name", "mtime", "start-time"; NULL for
// frames archived before version 3). A value the record did not write is NULL.
// These are views; the rows are in stored_frames, stored_power_housekeeping and
// stored_system_housekeeping, the same without `received`.
//   influx_points(frame_id): the records waiting for the InfluxDB feed.
//
// The file is written in WAL mode, one transaction per batch of frames (one frame
// by default), so killing the program loses at most the batch in flight and
// never leaves a damaged file.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "outputs/archive/archive_batch.h"
#include "outputs/frame_sink.h"
#include "outputs/logs/log_files.h"

struct sqlite3;

namespace zevrin {

class ArchiveCheckpointer;

inline constexpr int kArchiveSchemaVersion = 4;

/// The archive of a station in `directory`: "dir/<label>_archive.sqlite". Characters
/// of the label other than letters, digits, '-', '_' and '.' become '_', and a
/// leading '.' too, so any label gives a plain file name inside `directory`.
std::string ArchiveFileName(std::string_view directory, std::string_view station_label);

/// For a program that does little but fill an archive: turns off SQLite's
/// memory statistics, which take a process-wide lock on every allocation. Call
/// it before any SQLite database is opened; later it does nothing.
void TuneSqliteForArchiving();

/// Work done in the archive inside a transaction of its own: returns false on a
/// failure (SQLite's error is then the connection's), and the transaction is
/// rolled back.
using ArchiveTask = std::function<bool(sqlite3* db)>;

/// Something kept in the archive beside the frames, written in the same
/// transaction as the frame it belongs to (a queue of frames to pass on, say).
class ArchiveExtension {
 public:
  virtual ~ArchiveExtension() = default;
  /// Creates its tables when missing (IF NOT EXISTS); runs inside a transaction
  /// each time the archive is opened. Returns false on failure.
  virtual bool CreateTables(sqlite3* db) = 0;
  /// Adds what it keeps for a frame just added as row `frame_id` of `frames`.
  /// The frame comes without header and display-field store. Returns false on
  /// failure: the whole batch is then rolled back.
  virtual bool FrameAdded(sqlite3* db, const DecodedFrame& frame, std::int64_t frame_id) = 0;
  /// The frames added since the last call are committed: others can see them now.
  virtual void Committed() {}
  /// The connection is about to close: finalise prepared statements.
  virtual void Closing() {}
};

struct ArchiveWriterOptions {
  /// Frames per transaction; 1 commits every frame at once. Flush() commits a
  /// smaller batch.
  int batch_frames = 1;
  /// The SQLite VFS to use; empty for the default one.
  std::string vfs;
  /// Copy the write-ahead log into the database on a thread of its own, so that
  /// adding frames does not wait for it: for a program that fills the archive
  /// as fast as it can.
  bool background_checkpoints = false;
  /// How long a write waits for another program holding the archive.
  int busy_timeout_ms = 2000;
  /// Frames an ArchiveThread keeps while the archive cannot take them (held by
  /// another program, a full disk, held back for the raw log). With a limit the
  /// receiver never waits for the archive: frames beyond it are counted as
  /// missed. 0: the receiver waits for the archive, and a batch that cannot be
  /// written is missed at once (for a tool that reads recordings).
  std::size_t queue_frames = 0;
  /// With `queue_frames`: free bytes an ArchiveThread leaves to the logs on the
  /// archive's file system; below them it keeps its frames instead of writing.
  std::uint64_t reserve_bytes = 0;
};

/// Adds decoded frames to an archive. A file that cannot be opened or written is
/// told to the listener as a log notice, updated as frames are missed and once more
/// when it works again; frames go on
/// being handed over and are tried again, so reception never stops for it. An
/// archive that could not be opened is tried again at most every few seconds.
///
/// A replayed frame (times worked out from a recording) that the archive already
/// holds with the same reception time and the same bytes is not added again, so
/// a recording added twice is kept once. Frames received live are always added.
class ArchiveWriter final : public FrameSink {
 public:
  /// `listener` may be null.
  explicit ArchiveWriter(LogProblemListener* listener, ArchiveWriterOptions options = {});
  ~ArchiveWriter() override;
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  /// Opens the archive at `path`, creating it when missing. Returns false (and
  /// tells the listener) when it cannot be opened, is not an archive or was made
  /// by a newer version; frames are then counted as lost until a retry succeeds.
  bool Open(const std::string& path);
  /// Takes `path` as the archive, opened by OpenDeferred() or by the first batch
  /// written: for a writer on a thread of its own, so that the caller never
  /// waits for another program holding the archive.
  void Defer(const std::string& path);
  /// Opens the archive given to Defer(). A lock held by another program is not
  /// told: the next batch tries again. Returns whether it is open.
  bool OpenDeferred();
  /// Commits the open batch and closes the file.
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::string& path() const { return path_; }

  /// Must be called before Open.
  void AddExtension(ArchiveExtension* extension) { extensions_.push_back(extension); }

  /// Takes the frame into the open batch, which is written when it is full.
  void FrameDecoded(const DecodedFrame& frame) override;
  /// Writes and commits the open batch.
  void Flush() override;
  /// Writes the frames of `batch` in one transaction (or more, when one of them
  /// fails). For a caller that gathers its batches itself, on any one thread.
  void WriteBatch(const ArchiveBatch& batch) { WriteBatch(batch, 0, false); }
  /// Writes the frames of `batch` from `from` on, and returns how far it got:
  /// every frame before the index returned is written, found already there or
  /// missed. With `keep`, a failure that passes by itself (the archive locked by
  /// another program, a full disk) stops it before the frames of the failed
  /// transaction, which are neither written nor missed, so that the caller can
  /// hand them over again; such a failure is told only when it is not a lock.
  std::size_t WriteBatch(const ArchiveBatch& batch, std::size_t from, bool keep);
  /// Runs `task` in a transaction of its own. Returns false only when `keep` is
  /// set and the task met a failure that passes: it is to be run again later.
  /// Other failures are told like those of frames, and the task is dropped.
  bool RunTask(const ArchiveTask& task, bool keep);
  /// `frames` frames, the last received at `last_ms`, could not even wait for
  /// the archive (`why`): missed, and told.
  void MissedWaiting(std::uint64_t frames, std::int64_t last_ms, std::string_view why);

  /// Frames added, frames found already there, frames that could not be written.
  std::uint64_t added() const { return added_; }
  std::uint64_t duplicates() const { return duplicates_; }
  std::uint64_t lost() const { return lost_; }
  /// The last SQLite error, for messages.
  const std::string& error() const { return error_; }

 private:
  struct Statements;

  bool OpenDatabase();
  bool Prepare();
  void CloseDatabase();
  bool Begin();
  bool Commit();
  void Rollback();
  /// True when `received_ms` is later than every frame in the archive; false
  /// when not, or when the archive could not be asked.
  bool IsAfterLatest(const ArchiveBatch& batch, std::int64_t received_ms);
  /// Inserts the staged rows: with `all` every one, else the whole groups.
  bool InsertStaged(const ArchiveBatch& batch, bool all);
  bool AddFrame(const ArchiveBatch& batch, std::size_t index);
  bool Exec(const char* sql);
  /// Whether the last failure passes by itself: a lock, a full disk.
  bool FailurePasses() const;
  /// Rolls the open transaction back without counting its frames as missed.
  void Abandon();
  /// Abandons the open transaction after a failure that passes, for the caller
  /// to hand the frames from `index` on over again.
  std::size_t KeepFrom(std::size_t index);
  void Failed();
  void Missed(std::uint64_t frames);
  void Succeeded(std::int64_t when_ms);

  ArchiveWriterOptions options_;
  std::string path_;
  sqlite3* db_ = nullptr;
  std::unique_ptr<Statements> statements_;
  std::unique_ptr<ArchiveCheckpointer> checkpointer_;
  ArchiveBatch pending_;
  std::vector<ArchiveExtension*> extensions_;
  bool in_transaction_ = false;
  int batch_count_ = 0;
  std::size_t transaction_first_ = 0;  // the batch's first frame in the open transaction
  std::uint64_t transaction_duplicates_ = 0;
  int failure_code_ = 0;  // SQLite's code of the last failure to open
  std::int64_t next_id_ = 1;
  // The latest reception time in `frames`, as far as this transaction knows;
  // read again at the start of each transaction.
  bool latest_known_ = false;
  std::int64_t latest_ms_ = 0;
  std::chrono::steady_clock::time_point next_open_attempt_{};
  // What the listener is shown, kept up to date like a log's notice.
  LogNoticeKeeper notices_;
  std::int64_t last_frame_ms_ = 0;
  std::string error_;
  std::uint64_t added_ = 0;
  std::uint64_t duplicates_ = 0;
  std::uint64_t lost_ = 0;
};

}  // namespace zevrin
