#include "engine/data/data_file_status.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/data/log_writer.h"
#include "engine/db/busy_event.h"
#include "engine/monitor/odbc_data_source.h"
#include "platform/documents.h"
#include "tests/engine/fake_odbc.h"
#include "tests/engine/monitor_fixture.h"

namespace engine {
namespace {

using testing::FakeOdbc;
using testing::MonitorTest;

class DataFileStatusTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    Services::SetUi(nullptr);
    NoteDataFileWrite("reset", SQLITE_OK);  // the state is process-wide
    Services::SetUi(&ui_);
  }
  std::string Path() const { return platform::GetDocumentsFolder() + "varnholt.dat"; }
};

TEST_F(DataFileStatusTest, ToldOnceWhenFailingBeginsAndOnceWhenItEnds) {
  const struct {
    std::vector<int> results;
    std::vector<int> told;  // the results whose texts the user gets, 0 for "written again"
  } cases[] = {
      {{SQLITE_OK, SQLITE_OK}, {}},
      {{SQLITE_FULL, SQLITE_FULL, SQLITE_FULL}, {SQLITE_FULL}},
      {{SQLITE_BUSY, SQLITE_READONLY, SQLITE_OK, SQLITE_OK}, {SQLITE_BUSY, SQLITE_OK}},
      {{SQLITE_OK, SQLITE_CANTOPEN, SQLITE_OK, SQLITE_IOERR},
       {SQLITE_CANTOPEN, SQLITE_OK, SQLITE_IOERR}},
  };
  for (const auto& c : cases) {
    NoteDataFileWrite("reset", SQLITE_OK);
    const std::size_t before = ui_.Events().size();
    for (int result : c.results) NoteDataFileWrite("m", result);
    std::vector<std::string> expected;
    for (int result : c.told) {
      expected.push_back(result == SQLITE_OK ? "info: " + DataFileRecoveredText(Path())
                                             : "error: " + DataFileFailureText(Path(), result));
    }
    const std::vector<std::string> all = ui_.Events();
    EXPECT_EQ(
        std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
        expected);
  }
}

TEST_F(DataFileStatusTest, LockedDataFileIsToldOnceAcrossPollsAndLogged) {
  db::BusyEvent::SetRetryLimit(std::chrono::milliseconds(100));
  auto odbc = std::make_shared<FakeOdbc>();
  auto monitor = std::make_shared<ODBCDataSource>();
  monitor->SetOdbc(odbc);

  db::Database holder;
  ASSERT_EQ(DataFiles::OpenDatabase(holder, DataFiles::kDataFileName), SQLITE_OK);
  ASSERT_EQ(db::Database::ExecSQL(holder, "BEGIN EXCLUSIVE"), SQLITE_OK);
  for (int i = 0; i < 3; ++i) monitor->Poll();
  EXPECT_EQ(ui_.Events(),
            std::vector<std::string>{"error: " + DataFileFailureText(Path(), SQLITE_BUSY)});
  ASSERT_EQ(db::Database::ExecSQL(holder, "COMMIT"), SQLITE_OK);
  holder.Close();
  // From here on the file is free again: the log writer's rows must not be mistaken for
  // another holder.
  db::BusyEvent::SetRetryLimit(std::chrono::seconds(60));

  monitor->Poll();
  monitor->Poll();
  EXPECT_EQ(ui_.Events().size(), 2u);
  EXPECT_EQ(ui_.Events().back(), "info: " + DataFileRecoveredText(Path()));
  FlushLogRows(std::chrono::steady_clock::now() + std::chrono::seconds(20));
  // Both rows reach the monitor's log once the file takes rows again.
  EXPECT_EQ(testing::DataRows("SELECT text FROM Log WHERE monitorId = '" + monitor->id +
                              "' AND text LIKE 'The data file %' ORDER BY time")
                .size(),
            2u);
}

}  // namespace
}  // namespace engine
