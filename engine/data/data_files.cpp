#include "engine/data/data_files.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/documents.h"

namespace engine {

namespace {

constexpr int kOdbcDataSourceKind = 2;

// Creates the first table unconditionally and every other one that is missing.
template <std::size_t N>
void CreateTables(db::Database& database, const std::array<TableDefinition, N>& tables,
                  bool firstUnconditionally) {
  for (std::size_t i = 0; i < N; ++i) {
    if ((i == 0 && firstUnconditionally) || !db::Database::TableExists(database, tables[i].name)) {
      db::Database::ExecSQL(database, std::string(tables[i].createSql));
    }
  }
}

std::atomic<bool> configRefused{false};

// The data file's shared connection. While it stays open, no other connection's close is
// the last one, which would checkpoint the write-ahead log and remove it so that the next
// open rebuilds its index. Never destroyed: threads may still use the file at exit.
struct DataFileKeeper {
  std::mutex mutex;
  db::Database connection;  // guarded by mutex
  dev_t device = 0;         // the file the connection was opened on; guarded by mutex
  ino_t inode = 0;
};

DataFileKeeper& GetDataFileKeeper() {
  static auto* keeper = new DataFileKeeper;
  return *keeper;
}

// How long the exit waits for the shared connection before leaving it open.
constexpr std::chrono::seconds kExitLockBound{5};
// The shared connection's page cache: it holds today's rows of every monitor's uptime
// read (a day of 20 monitors is about a thousand pages), shared by all polls.
constexpr const char* kSharedCacheSize = "PRAGMA cache_size = -8192";

// Opens the keeper's connection on the data file in `folder` unless it is open on the
// file that is there now (one removed or put in its place by another program is let go).
// Caller holds the keeper's mutex.
int OpenKept(DataFileKeeper& keeper, const std::string& folder) {
  const std::string path = folder + DataFiles::kDataFileName;
  struct stat now {};
  const bool there = ::stat(path.c_str(), &now) == 0;
  if (keeper.connection.IsOpen() && keeper.connection.Path() == path && there &&
      now.st_dev == keeper.device && now.st_ino == keeper.inode) {
    return SQLITE_OK;
  }
  keeper.connection.Close();
  const int rc = DataFiles::OpenDatabaseIn(keeper.connection, folder, DataFiles::kDataFileName);
  if (rc == SQLITE_OK) {
    db::Database::ExecSQL(keeper.connection, kSharedCacheSize);
    // A connection reaches the file only with its first statement.
    db::Database::ExecSQL(keeper.connection, "PRAGMA schema_version");
    struct stat opened {};
    if (::stat(path.c_str(), &opened) == 0) {
      keeper.device = opened.st_dev;
      keeper.inode = opened.st_ino;
    }
  }
  return rc;
}

}  // namespace

int DataFiles::OpenDatabase(db::Database& database, const std::string& fileName) {
  return OpenDatabaseIn(database, DataFolder(), fileName);
}

std::string DataFiles::DataFolder() {
  std::string folder = platform::GetDocumentsFolder();
  if (folder.empty() || folder.front() != '/') folder.clear();
  return folder;
}

int DataFiles::OpenDatabaseIn(db::Database& database, const std::string& folder,
                              const std::string& fileName) {
  if (folder.empty() || folder.front() != '/') {
    database.Close();
    return SQLITE_CANTOPEN;
  }
  if (fileName == kConfigFileName && configRefused.load()) {
    database.Close();
    return SQLITE_READONLY;
  }
  const int rc = database.Open(folder + fileName);
  if (rc != SQLITE_OK) return rc;
  // Every commit reaches the disk before it returns, on both files and on every
  // connection: the setting is the connection's own, not the file's. It reads the
  // schema, so it does not wait for another program's lock: a connection that meets one
  // keeps the library's default and the caller's bound on its own waits holds.
  database.LimitBusyWaits(std::chrono::milliseconds(0));
  db::Database::ExecSQL(database, "PRAGMA synchronous=FULL");
  database.UseProcessBusyLimit();
  return rc;
}

void DataFiles::SetConfigFileRefused(bool refused) { configRefused.store(refused); }

void DataFiles::CreateConfigTables() {
  db::Database database;
  if (OpenDatabase(database, kConfigFileName) != SQLITE_OK) return;
  CreateTables(database, kConfigTables, true);
}

void DataFiles::CreateDataTables() {
  db::Database database;
  if (OpenDatabase(database, kDataFileName) != SQLITE_OK) return;
  // Kept by the file itself from now on.
  db::Database::ExecSQL(database, "PRAGMA journal_mode=WAL");
  CreateTables(database, kDataTables, false);
  for (std::string_view index : kDataIndexes) {
    db::Database::ExecSQL(database, std::string(index));
  }
  KeepDataFileOpen(true);
}

void DataFiles::KeepDataFileOpen(bool keep) {
  DataFileKeeper& keeper = GetDataFileKeeper();
  if (keep) {
    // A connection another thread is using is open already, and stays open after its
    // use. The caller must not hold DataFileLock() itself.
    std::unique_lock lock(keeper.mutex, std::try_to_lock);
    if (lock.owns_lock()) OpenKept(keeper, DataFolder());
    return;
  }
  // At exit a thread abandoned inside a use of the file may hold the lock for long.
  const auto deadline = std::chrono::steady_clock::now() + kExitLockBound;
  std::unique_lock lock(keeper.mutex, std::try_to_lock);
  while (!lock.owns_lock() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    lock.try_lock();
  }
  if (lock.owns_lock()) keeper.connection.Close();
}

std::mutex& DataFiles::DataFileLock() { return GetDataFileKeeper().mutex; }

SharedDataFile::SharedDataFile() : SharedDataFile(DataFiles::DataFolder()) {}

SharedDataFile::SharedDataFile(const std::string& folder) : lock_(DataFiles::DataFileLock()) {
  DataFileKeeper& keeper = GetDataFileKeeper();
  status_ = OpenKept(keeper, folder);
  if (status_ == SQLITE_OK) connection_ = &keeper.connection;
}

SharedDataFile::~SharedDataFile() {
  // A use unwound by an exception left its transaction open: closing rolls it back, so
  // that it holds no lock on the file and the next use's statements do not join it.
  db::Database& connection = GetDataFileKeeper().connection;
  if (discard_ || connection.InTransaction()) connection.Close();
}

std::string DataFiles::GetTableName(int type) {
  return type == kOdbcDataSourceKind ? "ODBCDataSources" : "";
}

}  // namespace engine
