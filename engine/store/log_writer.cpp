#include "engine/store/log_writer.h"

#include <sqlite3.h>

#include "engine/clock.h"
#include "engine/store/data_files.h"
#include "engine/store/statements.h"

namespace engine {

void WriteLogRow(const std::string& monitorId, int type, const std::string& text) {
  db::Database database;
  if (DataFiles::OpenDatabase(database, DataFiles::kDataFileName) != SQLITE_OK) return;
  db::Database::ExecSQL(database, sql::InsertLog(monitorId, Clock::Now(), type, text));
}

std::size_t FlushLogRows(std::chrono::steady_clock::time_point /*deadline*/) { return 0; }

}  // namespace engine
