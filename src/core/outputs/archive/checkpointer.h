#pragma once
// Copying the archive's write-ahead log into its database file on a thread of
// its own, so that a writer adding frames as fast as it can does not wait for it.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct sqlite3;

namespace zevrin {

/// Copies the write-ahead log into the database file through a connection of
/// its own, on a thread of its own, while the writer goes on adding frames.
/// Copies are passive: they never hold up the writer or a reader.
class ArchiveCheckpointer {
 public:
  ArchiveCheckpointer() = default;
  ~ArchiveCheckpointer() { Stop(); }
  ArchiveCheckpointer(const ArchiveCheckpointer&) = delete;
  ArchiveCheckpointer& operator=(const ArchiveCheckpointer&) = delete;

  /// Opens the archive at `path` (through `vfs`, empty for the default one) and
  /// starts the thread; false when the archive cannot be opened.
  bool Start(const std::string& path, const std::string& vfs);
  /// Stops the thread after the copy in progress and closes the connection.
  void Stop();

  /// Hooks this to the writer's connection `db`: each commit there then tells
  /// how far the log has grown. No commit may come on `db` once this is gone.
  void Watch(sqlite3* db);

 private:
  /// The write-ahead log hook: called by the writer after each commit, with the
  /// pages now in the log.
  static int LogGrew(void* self, sqlite3* db, const char* schema, int pages);
  void Request(int pages);
  void Run();

  sqlite3* db_ = nullptr;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  bool stop_ = false;
  std::uint64_t requested_ = 0;  // copies asked for
  std::uint64_t begun_ = 0;      // the request the running or last copy answers
  std::uint64_t finished_ = 0;
};

}  // namespace zevrin
