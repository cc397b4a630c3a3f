// The monitors' log: the rows of the Log table in the data file. One process-wide writer
// thread writes every row and every clearing, in the order they were asked for, so no
// caller ever waits for the data file. A request keeps the data folder and the time of
// the moment it was made. The writer is never destroyed; at process exit it is given a
// short bound to finish, then left. Any thread may call everything here.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace engine {

// Queues one row of a monitor's log (type 0 information, 1 alert), with the current time
// and the text sanitised. Returns at once; failures are not reported.
void WriteLogRow(const std::string& monitorId, int type, const std::string& text);

// What became of a deletion of a monitor's log rows: 0 (SQLITE_OK) when they are gone, else
// SQLite's result of the failure, and then every row stays. Called once, on the writer's
// thread, before waiters hear that the deletion was carried out; never for one still
// queued when it is given up at exit.
using ClearDone = std::function<void(int result)>;

// Queues the deletion of every row of the monitor's log, after the rows asked for before
// it. The second form names the data folder (a path ending in '/') instead of taking the
// current one, and may ask to hear the outcome.
void ClearLogRows(const std::string& monitorId);
void ClearLogRowsIn(const std::string& folder, const std::string& monitorId, ClearDone done = {});

// What the user is told when the data file at `path` refused to clear the log of the
// monitor named `monitorName` with SQLite's result `result`.
std::string LogClearFailureText(const std::string& monitorName, const std::string& path,
                                int result);

// Waits until every request made so far is carried out, or the deadline passes; true when
// all were. Nothing is given up.
bool WaitForLogWrites(std::chrono::steady_clock::time_point deadline);

// At exit: waits until every request made so far is carried out or the deadline passes.
// Returns how many did not reach the file: those still queued at the deadline (never
// carried out), the batch being written then (nobody waits for it any more), and those
// whose writing failed since the last call (but deletions whose outcome went to their
// caller). 0 when every row reached the file.
std::size_t FlushLogRows(std::chrono::steady_clock::time_point deadline);

}  // namespace engine
