// Shared set-up of the page tests: a data folder of the test's own with the data file's
// tables, the time zone UTC (a test may change it through tz_), and helpers that write
// rows into the data file.
#pragma once

#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>
#include <optional>
#include <string>

#include "engine/data/data_files.h"
#include "engine/data/statements.h"
#include "engine/db/database.h"
#include "engine/store/server_storage.h"
#include "tests/support/temp_dir.h"

namespace engine::testing {

class HtmlDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tzset();
    DataFiles::CreateDataTables();
  }
  void TearDown() override {
    tz_.reset();
    tzset();
  }

  void Exec(const std::string& sql) {
    db::Database database;
    ASSERT_EQ(DataFiles::OpenDatabase(database, DataFiles::kDataFileName), 0);
    ASSERT_EQ(db::Database::ExecSQL(database, sql), 0) << sql;
  }
  // One sample row of the monitor, healthy exactly when available.
  void AddSample(const std::string& monitorId, std::int64_t time, bool available) {
    sql::OdbcDataSourceDataRow row;
    row.monitorId = monitorId;
    row.time = time;
    row.available = available;
    row.health = available;
    Exec(sql::InsertOdbcDataSourceData(row));
  }

  testing_support::TempDir docs_;
  testing_support::ScopedEnv docsEnv_{"LUMIVAR_DOCUMENTS_DIR", docs_.Path()};
  std::optional<testing_support::ScopedEnv> tz_{std::in_place, "TZ", "UTC"};
};

}  // namespace engine::testing
