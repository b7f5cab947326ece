#pragma once
// An SQLite VFS over the default one whose writes fail with "disk full" while
// the test says so: a full disk without mounting one.

#include <sqlite3.h>

#include <atomic>

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
  /// While true, every write and every growth of a file fails as on a full disk.
  static void SetFull(bool full) { full_ = full; }
  /// Writes refused so far.
  static int refused() { return refused_; }

 private:
  struct File {
    sqlite3_file base;
    sqlite3_file* real;
  };
  static sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real; }

  static int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out) {
    auto* f = reinterpret_cast<File*>(file);
    f->real = reinterpret_cast<sqlite3_file*>(f + 1);
    f->base.pMethods = nullptr;
    const int rc = real_->xOpen(real_, name, f->real, flags, out);
    if (f->real->pMethods != nullptr) {
      methods_ = *f->real->pMethods;
      methods_.xClose = [](sqlite3_file* x) { return Real(x)->pMethods->xClose(Real(x)); };
      methods_.xRead = [](sqlite3_file* x, void* p, int n, sqlite3_int64 o) {
        return Real(x)->pMethods->xRead(Real(x), p, n, o);
      };
      methods_.xWrite = [](sqlite3_file* x, const void* p, int n, sqlite3_int64 o) {
        if (full_) return ++refused_, SQLITE_FULL;
        return Real(x)->pMethods->xWrite(Real(x), p, n, o);
      };
      methods_.xTruncate = [](sqlite3_file* x, sqlite3_int64 n) {
        return Real(x)->pMethods->xTruncate(Real(x), n);
      };
      methods_.xSync = [](sqlite3_file* x, int f) { return Real(x)->pMethods->xSync(Real(x), f); };
      methods_.xFileSize = [](sqlite3_file* x, sqlite3_int64* n) {
        return Real(x)->pMethods->xFileSize(Real(x), n);
      };
      methods_.xLock = [](sqlite3_file* x, int l) { return Real(x)->pMethods->xLock(Real(x), l); };
      methods_.xUnlock = [](sqlite3_file* x, int l) {
        return Real(x)->pMethods->xUnlock(Real(x), l);
      };
      methods_.xCheckReservedLock = [](sqlite3_file* x, int* r) {
        return Real(x)->pMethods->xCheckReservedLock(Real(x), r);
      };
      methods_.xFileControl = [](sqlite3_file* x, int op, void* a) {
        return Real(x)->pMethods->xFileControl(Real(x), op, a);
      };
      methods_.xSectorSize = [](sqlite3_file* x) {
        return Real(x)->pMethods->xSectorSize(Real(x));
      };
      methods_.xDeviceCharacteristics = [](sqlite3_file* x) {
        return Real(x)->pMethods->xDeviceCharacteristics(Real(x));
      };
      methods_.xShmMap = [](sqlite3_file* x, int pg, int sz, int ext, void volatile** p) {
        return Real(x)->pMethods->xShmMap(Real(x), pg, sz, ext, p);
      };
      methods_.xShmLock = [](sqlite3_file* x, int o, int n, int f) {
        return Real(x)->pMethods->xShmLock(Real(x), o, n, f);
      };
      methods_.xShmBarrier = [](sqlite3_file* x) { Real(x)->pMethods->xShmBarrier(Real(x)); };
      methods_.xShmUnmap = [](sqlite3_file* x, int d) {
        return Real(x)->pMethods->xShmUnmap(Real(x), d);
      };
      methods_.xFetch = [](sqlite3_file* x, sqlite3_int64 o, int n, void** p) {
        return Real(x)->pMethods->xFetch(Real(x), o, n, p);
      };
      methods_.xUnfetch = [](sqlite3_file* x, sqlite3_int64 o, void* p) {
        return Real(x)->pMethods->xUnfetch(Real(x), o, p);
      };
      f->base.pMethods = &methods_;
    }
    return rc;
  }

  static inline sqlite3_vfs* real_ = nullptr;
  static inline sqlite3_vfs vfs_{};
  static inline sqlite3_io_methods methods_{};
  static inline std::atomic<bool> full_{false};
  static inline int refused_ = 0;
};

}  // namespace zevrin::testing
