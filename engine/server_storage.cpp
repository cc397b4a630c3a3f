#include "engine/server_storage.h"

#include <sqlite3.h>

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

int ServerStorage::OpenDatabase(db::Database& database, const std::string& fileName) {
  const std::string folder = platform::GetDocumentsFolder();
  if (folder.empty() || folder.front() != '/') {
    database.Close();
    return SQLITE_CANTOPEN;
  }
  return database.Open(folder + fileName);
}

void ServerStorage::CreateConfigTables() {
  db::Database database;
  if (OpenDatabase(database, kConfigFileName) != SQLITE_OK) return;
  CreateTables(database, kConfigTables, true);
}

void ServerStorage::CreateDataTables() {
  db::Database database;
  if (OpenDatabase(database, kDataFileName) != SQLITE_OK) return;
  CreateTables(database, kDataTables, false);
  for (std::string_view index : kDataIndexes) {
    db::Database::ExecSQL(database, std::string(index));
  }
}

std::string ServerStorage::GetTableName(int type) {
  return type == kOdbcDataSourceKind ? "ODBCDataSources" : "";
}

std::string_view ConditionOperatorText(int condition) {
  if (condition < 0 || condition >= static_cast<int>(kConditionOperators.size())) return {};
  return kConditionOperators[static_cast<std::size_t>(condition)];
}

}  // namespace engine
