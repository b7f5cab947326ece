#include "outputs/archive/checkpointer.h"

#include <pthread.h>
#include <sqlite3.h>

namespace zevrin {

namespace {

// Pages in the write-ahead log from which it is copied into the database: the
// size at which SQLite does so itself.
constexpr int kCheckpointPages = 1000;
// Pages from which the writer waits for a copy to finish. A log copied while the
// writer goes on is never copied to its end, so it would grow for as long as the
// writer writes; once a copy has caught up, the next transaction starts the log
// at the beginning of its file again, and rewriting pages the file already has
// costs the system far less than growing it.
constexpr int kMostLogPages = 4 * kCheckpointPages;

}  // namespace

bool ArchiveCheckpointer::Start(const std::string& path, const std::string& vfs) {
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db_, flags, vfs.empty() ? nullptr : vfs.c_str()) !=
          SQLITE_OK ||
      sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }
  thread_ = std::thread([this] {
    // Named for top -H and debuggers.
    pthread_setname_np(pthread_self(), "zevrin-ckpt");
    Run();
  });
  return true;
}

void ArchiveCheckpointer::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

void ArchiveCheckpointer::Watch(sqlite3* db) { sqlite3_wal_hook(db, &LogGrew, this); }

int ArchiveCheckpointer::LogGrew(void* self, sqlite3* /*db*/, const char* /*schema*/, int pages) {
  static_cast<ArchiveCheckpointer*>(self)->Request(pages);
  return SQLITE_OK;
}

void ArchiveCheckpointer::Request(int pages) {
  if (pages < kCheckpointPages) return;
  std::unique_lock lock(mutex_);
  const std::uint64_t wanted = ++requested_;
  wake_.notify_all();
  if (pages < kMostLogPages) return;
  // A copy that begins after this request copies the whole log, as the writer
  // waits here; its next transaction then starts the log from the beginning.
  done_.wait(lock, [&] { return finished_ >= wanted || stop_; });
}

void ArchiveCheckpointer::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || requested_ > begun_; });
    if (stop_) return;
    begun_ = requested_;
    lock.unlock();
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    lock.lock();
    finished_ = begun_;
    done_.notify_all();
  }
}

}  // namespace zevrin
