// A slow disk for SQLite, as an SD card, a USB stick or a network home folder is: while a
// SlowSync lives, every sync of every SQLite file of this process (a commit's journal and
// database syncs) takes the given time longer. It wraps the default file system of the
// library (a VFS of its own, made the default), so it needs no preloaded library and works
// under the sanitizers. Header-only, for tests and benchmarks; one at a time. A test can
// wait until a sync of a given file has begun, so as to act while the commit that makes it
// still holds that file's lock; and it can hold every opening of a database file at the
// door and let them in one by one, so as to act while a writer that opens its own
// connection for each attempt is between two attempts.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace testing_support {

class SlowSync {
 public:
  explicit SlowSync(std::chrono::milliseconds delay) {
    State& s = Get();
    s.delayMs.store(delay.count());
    if (s.real == nullptr) {
      s.real = sqlite3_vfs_find(nullptr);
      s.vfs = *s.real;
      s.vfs.zName = "lumivar-slow-sync";
      s.vfs.szOsFile = static_cast<int>(sizeof(File)) + s.real->szOsFile;
      s.vfs.xOpen = &Open;
      s.vfs.pAppData = nullptr;
    }
    sqlite3_vfs_register(&s.vfs, 1);
  }
  ~SlowSync() {
    State& s = Get();
    s.delayMs.store(0);
    // Connections opened meanwhile keep the wrapper; without a delay it only forwards.
    sqlite3_vfs_register(s.real, 1);
  }
  SlowSync(const SlowSync&) = delete;
  SlowSync& operator=(const SlowSync&) = delete;

  // Syncs made through the wrapper so far.
  static long Syncs() { return Get().syncs.load(); }

  // Syncs begun so far (counted before their delay) of the files whose path holds `part`;
  // a database's name covers its journal too.
  static long SyncsBegun(const std::string& part) {
    State& s = Get();
    std::lock_guard lock(s.mutex);
    return CountBegun(s, part);
  }
  // Waits until more than `count` syncs of those files have begun, at most `bound`: true
  // when they have. The sync that began is then under way, or has just ended.
  static bool WaitForSyncBegun(const std::string& part, long count,
                               std::chrono::milliseconds bound) {
    State& s = Get();
    std::unique_lock lock(s.mutex);
    return s.begunChanged.wait_for(lock, bound, [&] { return CountBegun(s, part) > count; });
  }

  // From now on, a connection that opens the database file whose path ends with `name`
  // waits in the open until LetOpenIn lets it in (its journal is not held). Openings begun
  // are counted, held or not.
  static void HoldOpens(const std::string& name) {
    State& s = Get();
    std::lock_guard lock(s.mutex);
    s.held = name;
    s.admitted = s.opened;
  }
  // Lets the next held opening in (or the next one to come).
  static void LetOpenIn() {
    State& s = Get();
    {
      std::lock_guard lock(s.mutex);
      ++s.admitted;
    }
    s.begunChanged.notify_all();
  }
  // Holds no opening any more and lets those held in.
  static void StopHoldingOpens() {
    State& s = Get();
    {
      std::lock_guard lock(s.mutex);
      s.held.clear();
    }
    s.begunChanged.notify_all();
  }
  // Openings of the held file begun so far.
  static long OpensBegun() {
    State& s = Get();
    std::lock_guard lock(s.mutex);
    return s.opened;
  }
  // Waits until more than `count` openings of the held file have begun, at most `bound`:
  // true when they have.
  static bool WaitForOpenBegun(long count, std::chrono::milliseconds bound) {
    State& s = Get();
    std::unique_lock lock(s.mutex);
    return s.begunChanged.wait_for(lock, bound, [&] { return s.opened > count; });
  }

 private:
  struct File {
    sqlite3_file base;
    sqlite3_file* real;  // the wrapped file, right after this struct
    const char* name;    // its path, kept by the library until the file is closed; or null
  };
  struct State {
    sqlite3_vfs* real = nullptr;
    sqlite3_vfs vfs{};
    sqlite3_io_methods methods{};
    std::atomic<long> delayMs{0};
    std::atomic<long> syncs{0};
    std::mutex mutex;  // guards begun
    std::condition_variable begunChanged;
    std::map<std::string, long> begun;  // syncs begun, by path
    std::string held;                   // the file whose openings are held, or ""
    long opened = 0;                    // openings of it begun
    long admitted = 0;                  // openings let in so far
  };
  static State& Get() {
    static State state;
    return state;
  }
  static sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<File*>(file)->real; }

  // Caller holds s.mutex.
  static long CountBegun(const State& s, const std::string& part) {
    long count = 0;
    for (const auto& [path, n] : s.begun) {
      if (path.find(part) != std::string::npos) count += n;
    }
    return count;
  }
  static void NoteBegun(sqlite3_file* file) {
    const char* name = reinterpret_cast<File*>(file)->name;
    State& s = Get();
    {
      std::lock_guard lock(s.mutex);
      ++s.begun[name != nullptr ? name : ""];
    }
    s.begunChanged.notify_all();
  }

  // Caller holds nothing. An opening of the held file waits for its turn.
  static void AtTheDoor(const char* name, int flags) {
    if (name == nullptr || (flags & SQLITE_OPEN_MAIN_DB) == 0) return;
    State& s = Get();
    std::unique_lock lock(s.mutex);
    const std::string path(name);
    if (s.held.empty() || path.size() < s.held.size() ||
        path.compare(path.size() - s.held.size(), s.held.size(), s.held) != 0) {
      return;
    }
    const long turn = ++s.opened;
    s.begunChanged.notify_all();
    s.begunChanged.wait(lock, [&] { return s.held.empty() || s.admitted >= turn; });
  }

  static int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    AtTheDoor(name, flags);
    State& s = Get();
    auto* wrapper = reinterpret_cast<File*>(file);
    wrapper->real = reinterpret_cast<sqlite3_file*>(wrapper + 1);
    wrapper->name = name;
    wrapper->base.pMethods = nullptr;
    const int rc = s.real->xOpen(s.real, name, wrapper->real, flags, outFlags);
    if (wrapper->real->pMethods == nullptr) return rc;
    FillMethods(*wrapper->real->pMethods);
    wrapper->base.pMethods = &s.methods;
    return rc;
  }

  // The wrapper's methods forward every call, with the sync delayed; made once from the
  // wrapped file's methods (the library's own file system has one set for all files).
  static void FillMethods(const sqlite3_io_methods& real) {
    static std::once_flag once;
    std::call_once(once, [&real] { MakeMethods(real); });
  }
  static void MakeMethods(const sqlite3_io_methods& real) {
    sqlite3_io_methods& m = Get().methods;
    m.iVersion = real.iVersion;
    m.xClose = [](sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); };
    m.xRead = [](sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
      return Real(f)->pMethods->xRead(Real(f), buffer, amount, offset);
    };
    m.xWrite = [](sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
      return Real(f)->pMethods->xWrite(Real(f), buffer, amount, offset);
    };
    m.xTruncate = [](sqlite3_file* f, sqlite3_int64 size) {
      return Real(f)->pMethods->xTruncate(Real(f), size);
    };
    m.xSync = [](sqlite3_file* f, int flags) {
      NoteBegun(f);
      const long delay = Get().delayMs.load();
      if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      ++Get().syncs;
      return Real(f)->pMethods->xSync(Real(f), flags);
    };
    m.xFileSize = [](sqlite3_file* f, sqlite3_int64* size) {
      return Real(f)->pMethods->xFileSize(Real(f), size);
    };
    m.xLock = [](sqlite3_file* f, int lock) { return Real(f)->pMethods->xLock(Real(f), lock); };
    m.xUnlock = [](sqlite3_file* f, int lock) { return Real(f)->pMethods->xUnlock(Real(f), lock); };
    m.xCheckReservedLock = [](sqlite3_file* f, int* out) {
      return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
    };
    m.xFileControl = [](sqlite3_file* f, int op, void* arg) {
      return Real(f)->pMethods->xFileControl(Real(f), op, arg);
    };
    m.xSectorSize = [](sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); };
    m.xDeviceCharacteristics = [](sqlite3_file* f) {
      return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
    };
    if (real.iVersion >= 2) {
      m.xShmMap = [](sqlite3_file* f, int page, int size, int extend, void volatile** out) {
        return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
      };
      m.xShmLock = [](sqlite3_file* f, int offset, int n, int flags) {
        return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
      };
      m.xShmBarrier = [](sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); };
      m.xShmUnmap = [](sqlite3_file* f, int deleteFlag) {
        return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
      };
    }
    if (real.iVersion >= 3) {
      m.xFetch = [](sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
        return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
      };
      m.xUnfetch = [](sqlite3_file* f, sqlite3_int64 offset, void* page) {
        return Real(f)->pMethods->xUnfetch(Real(f), offset, page);
      };
    }
  }
};

}  // namespace testing_support
