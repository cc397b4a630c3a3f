#include "engine/store/data_files.h"

#include <sqlite3.h>

#include <atomic>
#include <mutex>

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

}  // namespace

namespace {

std::atomic<bool> configRefused{false};

// A connection to the data file that stays open while the program uses the file. Every
// operation opens a connection of its own; without this one, each close would be the last
// and would checkpoint the write-ahead log and remove it, and the next open would rebuild
// its index. Never destroyed: threads may still open the file at exit.
struct DataFileKeeper {
  std::mutex mutex;
  db::Database connection;
};

DataFileKeeper& GetDataFileKeeper() {
  static auto* keeper = new DataFileKeeper;
  return *keeper;
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
  return database.Open(folder + fileName);
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
  // Kept by the file itself from now on; synchronous stays at its default.
  db::Database::ExecSQL(database, "PRAGMA journal_mode=WAL");
  CreateTables(database, kDataTables, false);
  for (std::string_view index : kDataIndexes) {
    db::Database::ExecSQL(database, std::string(index));
  }
  KeepDataFileOpen(true);
}

void DataFiles::KeepDataFileOpen(bool keep) {
  DataFileKeeper& keeper = GetDataFileKeeper();
  std::lock_guard lock(keeper.mutex);
  keeper.connection.Close();
  // A connection reaches the file only with its first statement.
  if (keep && OpenDatabase(keeper.connection, kDataFileName) == SQLITE_OK) {
    db::Database::ExecSQL(keeper.connection, "PRAGMA schema_version");
  }
}

std::string DataFiles::GetTableName(int type) {
  return type == kOdbcDataSourceKind ? "ODBCDataSources" : "";
}

}  // namespace engine
