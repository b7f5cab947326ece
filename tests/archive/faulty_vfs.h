#pragma once
// An SQLite VFS over the default one whose writes fail with "disk full" while
// the test says so: a full disk without mounting one.

#include <sqlite3.h>

#include <atomic>
#include <type_traits>

namespace zevrin::testing {

class FaultyVfs {
 public:
  static constexpr const char* kName = "faulty";

  /// Registers the VFS (once per process) and lets writes through.
  static void Register() {
    static const bool registered = [] {
      real_ = sqlite3_vfs_find(nullptr);
      vfs_ = *real_;
      vfs_.zName = kName;
      vfs_.szOsFile = static_cast<int>(sizeof(File)) + real_->szOsFile;
      vfs_.xOpen = Open;
      return sqlite3_vfs_register(&vfs_, 0) == SQLITE_OK;
    }();
    (void)registered;
    full_ = false;
  }
  /// While true, every write fails as on a full disk.
  static void SetFull(bool full) { full_ = full; }
  /// Writes refused so far.
  static int refused() { return refused_; }

 private:
  // Our file holds the default VFS's file right behind it.
  struct File {
    sqlite3_file base;
    sqlite3_file* real;
  };
  static sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real; }

  // A method that calls the real file's method `M`.
  template <auto M, typename T>
  struct Forward;
  template <auto M, typename R, typename... A>
  struct Forward<M, R (*)(sqlite3_file*, A...)> {
    static R Call(sqlite3_file* f, A... a) { return (Real(f)->pMethods->*M)(Real(f), a...); }
  };
  template <auto... M>
  static void ForwardAll() {
    ((methods_.*M = &Forward<M, std::remove_cvref_t<decltype(methods_.*M)>>::Call), ...);
  }

  static int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out) {
    auto* f = reinterpret_cast<File*>(file);
    f->real = reinterpret_cast<sqlite3_file*>(f + 1);
    f->base.pMethods = nullptr;
    const int rc = real_->xOpen(real_, name, f->real, flags, out);
    if (f->real->pMethods == nullptr) return rc;
    using M = sqlite3_io_methods;
    methods_ = *f->real->pMethods;
    ForwardAll<&M::xClose, &M::xRead, &M::xTruncate, &M::xSync, &M::xFileSize, &M::xLock,
               &M::xUnlock, &M::xCheckReservedLock, &M::xFileControl, &M::xSectorSize,
               &M::xDeviceCharacteristics, &M::xShmMap, &M::xShmLock, &M::xShmBarrier,
               &M::xShmUnmap, &M::xFetch, &M::xUnfetch>();
    methods_.xWrite = [](sqlite3_file* x, const void* p, int n, sqlite3_int64 o) {
      if (full_) return ++refused_, SQLITE_FULL;
      return Real(x)->pMethods->xWrite(Real(x), p, n, o);
    };
    f->base.pMethods = &methods_;
    return rc;
  }

  static inline sqlite3_vfs* real_ = nullptr;
  static inline sqlite3_vfs vfs_{};
  static inline sqlite3_io_methods methods_{};
  static inline std::atomic<bool> full_{false};
  static inline std::atomic<int> refused_ = 0;
};

}  // namespace zevrin::testing
