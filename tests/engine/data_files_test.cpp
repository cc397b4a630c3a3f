#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/data/data_files.h"
#include "engine/data/statements.h"
#include "engine/db/database.h"
#include "engine/db/statement.h"
#include "engine/monitor/test_query.h"
#include "engine/store/server_storage.h"
#include "tests/support/temp_dir.h"

namespace engine {
namespace {

using db::Cursor;
using db::Database;
using db::Statement;
using testing_support::ScopedEnv;
using testing_support::TempDir;

// Every row of a query, its columns joined by "|".
std::vector<std::string> Rows(Database& database, const std::string& sql) {
  std::vector<std::string> rows;
  Statement statement(database);
  Cursor* cursor = nullptr;
  if (statement.Prepare(sql) != SQLITE_OK || statement.Execute(&cursor) != SQLITE_OK) {
    return {"<failed: " + sql + ">"};
  }
  for (; !cursor->IsDone(); cursor->Next()) {
    std::string row;
    for (int c = 0; c < cursor->ColumnCount(); ++c) row += (c ? "|" : "") + cursor->GetText(c);
    rows.push_back(row);
  }
  return rows;
}

std::string One(Database& database, const std::string& sql) {
  auto rows = Rows(database, sql);
  return rows.size() == 1 ? rows[0] : "<" + std::to_string(rows.size()) + " rows>";
}

// Rows of the table with a value that is not text.
int NonTextValues(Database& database, const std::string& table) {
  std::string where;
  for (const auto& column : Rows(database, "SELECT name FROM pragma_table_info('" + table + "')")) {
    where += (where.empty() ? "" : " OR ") + ("typeof(" + column + ") <> 'text'");
  }
  return std::stoi(One(database, "SELECT count(*) FROM " + table + " WHERE " + where));
}

class DataFilesTest : public testing::Test {
 protected:
  int Open(Database& database, const char* file) { return DataFiles::OpenDatabase(database, file); }
  std::string FilePath(const char* file) const { return dir_.Path() + "/Lumivar/" + file; }

  TempDir dir_;
  ScopedEnv env_{"LUMIVAR_DOCUMENTS_DIR", dir_.Path()};
};

TEST_F(DataFilesTest, FirstStartCreatesTheExactSchemaAndASecondChangesNothing) {
  DataFiles::CreateConfigTables();
  DataFiles::CreateDataTables();

  struct stat info {};
  ASSERT_EQ(stat((dir_.Path() + "/Lumivar").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  for (const char* file : {DataFiles::kConfigFileName, DataFiles::kDataFileName}) {
    ASSERT_EQ(stat(FilePath(file).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
  }

  Database config, data;
  ASSERT_EQ(Open(config, DataFiles::kConfigFileName), SQLITE_OK);
  ASSERT_EQ(Open(data, DataFiles::kDataFileName), SQLITE_OK);
  EXPECT_EQ(One(config, "PRAGMA encoding"), "UTF-16le");
  for (auto [database, tables] :
       {std::pair{&config, std::vector(kConfigTables.begin(), kConfigTables.end())},
        std::pair{&data, std::vector(kDataTables.begin(), kDataTables.end())}}) {
    EXPECT_EQ(One(*database, "SELECT count(*) FROM sqlite_master WHERE type = 'table'"),
              std::to_string(tables.size()));
    for (const auto& table : tables) {
      // sqlite_master keeps the statement without "IF NOT EXISTS".
      std::string expected(table.createSql);
      expected.erase(expected.find("IF NOT EXISTS "), 14);
      EXPECT_EQ(One(*database,
                    "SELECT sql FROM sqlite_master WHERE name = '" + std::string(table.name) + "'"),
                expected);
    }
  }
  // Only the data file has indexes of its own (beside the primary keys' automatic ones).
  const std::string ownIndexes =
      "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND sql NOT NULL";
  EXPECT_EQ(One(data, ownIndexes), std::to_string(kDataIndexes.size()));
  EXPECT_EQ(One(config, ownIndexes), "0");
  // Deleting a monitor's rows finds them through an index.
  for (const auto& [table, index] :
       {std::pair{"TestQueriesData", "TestQueriesDataByMonitor"},
        std::pair{"AlertsData", "AlertsDataByMonitor"},
        std::pair{"ODBCDataSourcesData", "ODBCDataSourcesDataByMonitor"},
        std::pair{"Log", "LogByMonitorTime"}}) {
    const auto plan = Rows(
        data, std::string("EXPLAIN QUERY PLAN DELETE FROM ") + table + " WHERE monitorId = 'm'");
    ASSERT_FALSE(plan.empty());
    EXPECT_NE(plan[0].find(index), std::string::npos) << table << ": " << plan[0];
  }
  // Only the data file writes ahead; every connection to either file syncs fully.
  EXPECT_EQ(One(data, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(One(config, "PRAGMA journal_mode"), "delete");
  EXPECT_EQ(One(data, "PRAGMA synchronous"), "2");
  EXPECT_EQ(One(config, "PRAGMA synchronous"), "2");

  const std::string configVersion = One(config, "PRAGMA schema_version");
  const std::string dataVersion = One(data, "PRAGMA schema_version");
  DataFiles::CreateConfigTables();
  DataFiles::CreateDataTables();
  EXPECT_EQ(One(config, "PRAGMA schema_version"), configVersion);
  EXPECT_EQ(One(data, "PRAGMA schema_version"), dataVersion);
}

// While the program uses the data file its log stays beside it, whatever connections come
// and go; when the last one closes at exit the log is folded back into the file.
TEST_F(DataFilesTest, TheDataFileKeepsItsLogUntilTheExit) {
  DataFiles::CreateDataTables();
  const std::string wal = DataFiles::DataFolder() + DataFiles::kDataFileName + "-wal";
  for (int i = 0; i < 3; ++i) {
    db::Database data;
    ASSERT_EQ(DataFiles::OpenDatabase(data, DataFiles::kDataFileName), SQLITE_OK);
    ASSERT_EQ(db::Database::ExecSQL(data, "INSERT INTO Log VALUES ('m', '1', '0', 'x')"),
              SQLITE_OK);
  }
  EXPECT_TRUE(std::filesystem::exists(wal));
  DataFiles::KeepDataFileOpen(false);
  EXPECT_FALSE(std::filesystem::exists(wal));
  db::Database data;
  ASSERT_EQ(DataFiles::OpenDatabase(data, DataFiles::kDataFileName), SQLITE_OK);
  EXPECT_EQ(One(data, "SELECT count(*) FROM Log"), "3");
}

TEST_F(DataFilesTest, MissingTablesAreAddedAndRowsKept) {
  {
    Database config;
    ASSERT_EQ(Open(config, DataFiles::kConfigFileName), SQLITE_OK);
    ASSERT_EQ(Database::ExecSQL(config, std::string(kConfigTables[0].createSql)), SQLITE_OK);
    ASSERT_EQ(Database::ExecSQL(config, std::string(kConfigTables[1].createSql)), SQLITE_OK);
    ASSERT_EQ(Database::ExecSQL(config,
                                sql::InsertOrReplaceTestQuery("m", "q", "n", "SELECT 1", true, 0)),
              SQLITE_OK);
  }
  DataFiles::CreateConfigTables();
  Database config;
  ASSERT_EQ(Open(config, DataFiles::kConfigFileName), SQLITE_OK);
  for (const auto& table : kConfigTables) EXPECT_TRUE(Database::TableExists(config, table.name));
  EXPECT_EQ(One(config, "SELECT * FROM TestQueries"), "m|q|n|SELECT 1|1|0");
}

TEST_F(DataFilesTest, AFileMadeUtf8ByAnotherProgramLoads) {
  std::filesystem::create_directories(dir_.Path() + "/Lumivar");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(FilePath(DataFiles::kConfigFileName).c_str(), &other), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(other,
                   "CREATE TABLE TestQueries (monitorId NOT NULL, id NOT NULL PRIMARY KEY, "
                   "name, query, enable, type);"
                   "INSERT INTO TestQueries VALUES ('m', 'q', 'Größe', 'SELECT 1', '0', '3');",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(other);
  DataFiles::CreateConfigTables();

  Database config;
  ASSERT_EQ(Open(config, DataFiles::kConfigFileName), SQLITE_OK);
  EXPECT_EQ(One(config, "PRAGMA encoding"), "UTF-8");
  Statement statement(config);
  Cursor* cursor = nullptr;
  ASSERT_EQ(statement.Prepare(sql::SelectTestQueries("m")), SQLITE_OK);
  ASSERT_EQ(statement.Execute(&cursor), SQLITE_OK);
  TestQuery query;
  ASSERT_EQ(query.Load(*cursor), SQLITE_OK);
  EXPECT_EQ(query.id, "q");
  EXPECT_EQ(query.name, "Größe");
  EXPECT_FALSE(query.enable);
  EXPECT_EQ(query.type, 3);
  EXPECT_TRUE(Database::TableExists(config, "Actions"));
}

TEST_F(DataFilesTest, TestQueryTextsRoundTripAsText) {
  DataFiles::CreateConfigTables();
  Database config;
  ASSERT_EQ(Open(config, DataFiles::kConfigFileName), SQLITE_OK);
  const std::vector<std::string> texts = {
      "O'Brien's",        "x'); DROP TABLE TestQueries; --", "C:\\dir\\",
      "100% %d %s %I64d", "Grüße € \xF0\x9F\x98\x80",        "",
      "line\r\nnext\a'"};
  for (const auto& text : texts) {
    const std::string monitorId = "monitor " + text;
    TestQuery saved;
    saved.name = text;
    saved.query = "SELECT '" + text + "'";
    saved.enable = false;
    saved.type = 7;
    ASSERT_EQ(saved.Save(config, monitorId), SQLITE_OK) << text;
    saved.name += "2";
    ASSERT_EQ(saved.Save(config, monitorId), SQLITE_OK) << text;  // replaces the row

    Statement statement(config);
    Cursor* cursor = nullptr;
    ASSERT_EQ(statement.Prepare(sql::SelectTestQueries(monitorId)), SQLITE_OK);
    ASSERT_EQ(statement.Execute(&cursor), SQLITE_OK);
    TestQuery loaded;
    ASSERT_EQ(loaded.Load(*cursor), SQLITE_OK) << text;
    EXPECT_EQ(loaded.id, saved.id);
    EXPECT_EQ(loaded.name, saved.name);
    EXPECT_EQ(loaded.query, saved.query);
    EXPECT_FALSE(loaded.enable);
    EXPECT_EQ(loaded.type, 7);
    EXPECT_EQ(cursor->Next(), SQLITE_OK);
    EXPECT_TRUE(cursor->IsDone());
    EXPECT_EQ(loaded.Load(*cursor), SQLITE_MISUSE);
  }
  EXPECT_EQ(One(config, "SELECT count(*) FROM TestQueries"), std::to_string(texts.size()));
  EXPECT_EQ(NonTextValues(config, "TestQueries"), 0);

  Database closed;
  EXPECT_NE(TestQuery().Save(closed, "m"), SQLITE_OK);
  EXPECT_EQ(TestQuery().id.size(), 36u);
  EXPECT_NE(TestQuery().id, TestQuery().id);
}

TEST_F(DataFilesTest, EveryRowStatementStoresTextAndKeepsApostrophes) {
  DataFiles::CreateConfigTables();
  DataFiles::CreateDataTables();
  Database config, data;
  ASSERT_EQ(Open(config, DataFiles::kConfigFileName), SQLITE_OK);
  ASSERT_EQ(Open(data, DataFiles::kDataFileName), SQLITE_OK);
  const std::string odd = "it's; \\ 100%";
  sql::ActionRow action{.id = "a", .name = odd, .type = 2, .password = odd, .pollsCount = 3};
  const std::vector<std::pair<Database*, std::string>> writes = {
      {&config, sql::InsertOrReplaceOdbcDataSource({.id = "m",
                                                    .password = odd,
                                                    .customConnectionString = true,
                                                    .pollingInterval = 15,
                                                    .creationTime = 1700000000})},
      {&config, sql::InsertOrReplaceHealthAttribute("m", "h", odd, "", 1)},
      {&config,
       sql::InsertOrReplaceAlert(
           {.monitorId = "m", .id = "al", .threshold = -9000000000, .customMessage = odd})},
      {&config, sql::InsertOrReplaceAction(action)},
      {&data, sql::InsertOdbcDataSourceData(
                  {.monitorId = "m", .time = 1700000000, .errorDescription = odd})},
      {&data, sql::InsertTestQueryData("m", "q", 1700000000, -1, 0, odd)},
      {&data, sql::InsertAlertsData("m", "al", 1700000000, "a", odd)},
      {&data, sql::InsertLog("m", 1700000000, 1, "a'b\nc\ad\re")},
  };
  for (const auto& [database, statement] : writes) {
    EXPECT_EQ(Database::ExecSQL(*database, statement), SQLITE_OK) << statement;
  }
  for (const auto& table : kConfigTables)
    EXPECT_EQ(NonTextValues(config, std::string(table.name)), 0);
  for (const auto& table : kDataTables) EXPECT_EQ(NonTextValues(data, std::string(table.name)), 0);

  EXPECT_EQ(One(config, sql::SelectMonitors(DataFiles::GetTableName(2))),
            "m||||" + odd + "|1||15|1700000000|0|0|0");
  EXPECT_EQ(One(config, sql::SelectAlerts("m")), "m|al|||0|-9000000000|0|0|" + odd);
  EXPECT_EQ(One(config, sql::SelectActions()), "a|" + odd + "|2||0|0||" + odd + "||||||0|3");
  // Log texts and sample errors are stored sanitised, alert titles as they are.
  EXPECT_EQ(One(data, sql::SelectLog("m")), "1700000000|1|a b c d\re");
  EXPECT_EQ(One(data, "SELECT errorDescription FROM ODBCDataSourcesData"), "it s; \\ 100%");
  EXPECT_EQ(One(data, "SELECT errorDescription FROM TestQueriesData"), "it s; \\ 100%");
  EXPECT_EQ(One(data, "SELECT title FROM AlertsData"), odd);
}

TEST_F(DataFilesTest, TimeConditionsCompareTenDigitText) {
  DataFiles::CreateDataTables();
  Database data;
  ASSERT_EQ(Open(data, DataFiles::kDataFileName), SQLITE_OK);
  constexpr std::int64_t t = 1700000000;
  for (std::int64_t time : {t - 1, t, t + 1}) {
    ASSERT_EQ(Database::ExecSQL(data, sql::InsertOdbcDataSourceData(
                                          {.monitorId = "m", .time = time, .available = true})),
              SQLITE_OK);
  }
  const std::string table = DataFiles::GetTableName(2);
  struct Case {
    std::string sql;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {sql::SelectUptimeRows(table, "m", t, t + 100), {"1|1700000001"}},  // after t only
      {sql::SelectUptimeRows(table, "m", t - 2, t), {"1|1699999999", "1|1700000000"}},
      {sql::SelectDataInPeriod("time", table, "m", t, t + 100), {"1700000000", "1700000001"}},
      {sql::SelectDataInPeriod("time", table, "m", 0, t), {"1699999999", "1700000000"}},
      {sql::SelectDataInPeriod("time", table, "m", t, t), {"1700000000"}},
      {sql::SelectDataInPeriod("time", table, "other", 0, t + 100), {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Rows(data, c.sql), c.expected) << c.sql;

  ASSERT_EQ(Database::ExecSQL(data, sql::ExtendOdbcDataSourceData(t + 50, "m", t)), SQLITE_OK);
  EXPECT_EQ(data.Changes(), 1);
  EXPECT_EQ(Rows(data, sql::SelectDataInPeriod("time", table, "m", 0, t + 100)),
            (std::vector<std::string>{"1699999999", "1700000001", "1700000050"}));
}

TEST_F(DataFilesTest, DeletingAMonitorKeepsOtherMonitorsAndActions) {
  DataFiles::CreateConfigTables();
  DataFiles::CreateDataTables();
  Database config, data;
  ASSERT_EQ(Open(config, DataFiles::kConfigFileName), SQLITE_OK);
  ASSERT_EQ(Open(data, DataFiles::kDataFileName), SQLITE_OK);
  for (std::string m : {"m1", "m'2"}) {
    Database::ExecSQL(config, sql::InsertOrReplaceOdbcDataSource({.id = m}));
    Database::ExecSQL(config, sql::InsertOrReplaceTestQuery(m, m + "q", "", "", true, 0));
    Database::ExecSQL(config, sql::InsertOrReplaceHealthAttribute(m, m + "h", "", "", 0));
    Database::ExecSQL(config, sql::InsertOrReplaceAlert({.monitorId = m, .id = m + "a"}));
    Database::ExecSQL(data, sql::InsertOdbcDataSourceData({.monitorId = m}));
    Database::ExecSQL(data, sql::InsertTestQueryData(m, m + "q", 1, 1, 0, ""));
    Database::ExecSQL(data, sql::InsertAlertsData(m, m + "a", 1, "act", ""));
    Database::ExecSQL(data, sql::InsertLog(m, 1, 0, "x"));
  }
  Database::ExecSQL(config, sql::InsertOrReplaceAction({.id = "act"}));
  const std::string table = DataFiles::GetTableName(2);
  for (const auto& statement : sql::DeleteMonitorConfig(table, "m'2")) {
    EXPECT_EQ(Database::ExecSQL(config, statement), SQLITE_OK) << statement;
  }
  for (const auto& statement : sql::DeleteMonitorData(table, "m'2")) {
    EXPECT_EQ(Database::ExecSQL(data, statement), SQLITE_OK) << statement;
  }
  EXPECT_EQ(One(config, "SELECT id FROM ODBCDataSources"), "m1");
  EXPECT_EQ(One(config, "SELECT count(*) FROM Actions"), "1");
  for (const auto& t : {"TestQueries", "HealthAttributes", "Alerts"}) {
    EXPECT_EQ(One(config, std::string("SELECT DISTINCT monitorId FROM ") + t), "m1") << t;
  }
  for (const auto& t : kDataTables) {
    EXPECT_EQ(One(data, "SELECT DISTINCT monitorId FROM " + std::string(t.name)), "m1") << t.name;
  }
}

// The polls' shared connection: it follows the data folder, a use that failed leaves
// nothing open behind it (its transaction is gone, the next use works), whether it
// discarded the connection or was unwound by an exception, and a reader of another
// connection that holds a read open holds back neither a store nor, when it closes, the
// file's write-ahead log.
TEST_F(DataFilesTest, TheSharedConnectionFollowsTheFolderAndOutlivesFailuresAndReaders) {
  DataFiles::CreateDataTables();
  const auto store = [](const std::string& text) {
    SharedDataFile file;
    if (file.Connection() == nullptr) return file.Status();
    return Database::ExecSQL(*file.Connection(), sql::InsertLog("m", 1, 0, text));
  };
  const auto logTexts = [&](const std::string& folder) {
    Database data;
    EXPECT_EQ(DataFiles::OpenDatabaseIn(data, folder, DataFiles::kDataFileName), SQLITE_OK);
    return Rows(data, "SELECT text FROM Log ORDER BY rowid");
  };
  const std::string first = DataFiles::DataFolder();
  ASSERT_EQ(store("first"), SQLITE_OK);
  {
    TempDir other;
    ScopedEnv moved("LUMIVAR_DOCUMENTS_DIR", other.Path());
    DataFiles::CreateDataTables();
    ASSERT_EQ(store("second"), SQLITE_OK);
    EXPECT_EQ(logTexts(DataFiles::DataFolder()), std::vector<std::string>{"second"});
  }
  EXPECT_EQ(logTexts(first), std::vector<std::string>{"first"});

  {
    // A failure in the middle of a transaction: the user discards the connection.
    SharedDataFile file;
    ASSERT_NE(file.Connection(), nullptr);
    ASSERT_EQ(Database::ExecSQL(*file.Connection(), "BEGIN IMMEDIATE"), SQLITE_OK);
    ASSERT_EQ(Database::ExecSQL(*file.Connection(), sql::InsertLog("m", 2, 0, "lost")), SQLITE_OK);
    EXPECT_NE(Database::ExecSQL(*file.Connection(), "INSERT INTO NoSuchTable VALUES (1)"),
              SQLITE_OK);
    file.Discard();
  }
  try {
    // A use that unwinds in the middle of its transaction (an exception on a poll's
    // thread, which the polling goes on after) takes its transaction with it.
    SharedDataFile file;
    ASSERT_NE(file.Connection(), nullptr);
    ASSERT_EQ(Database::ExecSQL(*file.Connection(), "BEGIN IMMEDIATE"), SQLITE_OK);
    ASSERT_EQ(Database::ExecSQL(*file.Connection(), sql::InsertLog("m", 3, 0, "unwound")),
              SQLITE_OK);
    throw std::runtime_error("unwound");
  } catch (const std::runtime_error&) {
  }
  {
    // Another connection writes at once: the failed uses left no lock on the file.
    Database writer;
    ASSERT_EQ(Open(writer, DataFiles::kDataFileName), SQLITE_OK);
    writer.LimitBusyWaits(std::chrono::milliseconds(200));
    EXPECT_EQ(Database::ExecSQL(writer, sql::InsertLog("m", 4, 0, "other")), SQLITE_OK);
  }
  {
    SharedDataFile file;
    ASSERT_NE(file.Connection(), nullptr);
    EXPECT_EQ(Database::ExecSQL(*file.Connection(), "BEGIN IMMEDIATE"), SQLITE_OK);
    EXPECT_EQ(Database::ExecSQL(*file.Connection(), "COMMIT"), SQLITE_OK);
  }
  EXPECT_EQ(logTexts(first), (std::vector<std::string>{"first", "other"}));

  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(FilePath(DataFiles::kDataFileName).c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM Log", nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(store("while read"), SQLITE_OK);
  sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(reader);
  EXPECT_TRUE(std::filesystem::exists(FilePath(DataFiles::kDataFileName) + std::string("-wal")));
  EXPECT_EQ(logTexts(first), (std::vector<std::string>{"first", "other", "while read"}));
}

TEST(DataFolder, AFolderThatCannotBeMadeFailsTheOpen) {
  TempDir dir;
  ScopedEnv env("LUMIVAR_DOCUMENTS_DIR", dir.File("plain-file/sub"));
  { std::ofstream(dir.File("plain-file")) << "x"; }
  const auto cwdBefore = std::distance(std::filesystem::directory_iterator("."),
                                       std::filesystem::directory_iterator());
  Database database;
  EXPECT_NE(DataFiles::OpenDatabase(database, DataFiles::kConfigFileName), SQLITE_OK);
  EXPECT_FALSE(database.IsOpen());
  DataFiles::CreateConfigTables();
  EXPECT_FALSE(std::filesystem::exists(DataFiles::kConfigFileName));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."),
                          std::filesystem::directory_iterator()),
            cwdBefore);
}

}  // namespace
}  // namespace engine
