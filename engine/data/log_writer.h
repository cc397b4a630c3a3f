// The monitors' log: the rows of the Log table in the data file. One process-wide writer
// thread writes every row and every clearing, in the order they were asked for, so no
// caller ever waits for the data file. A request keeps the data folder and the time of
// the moment it was made. The writer is never destroyed; at process exit it is given a
// short bound to finish, then left. Any thread may call everything here.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace engine {

// Queues one row of a monitor's log (type 0 information, 1 alert), with the current time
// and the text sanitised. Returns at once; failures are not reported.
void WriteLogRow(const std::string& monitorId, int type, const std::string& text);

// Queues the deletion of every row of the monitor's log, after the rows asked for before
// it. The second form names the data folder (a path ending in '/') instead of taking the
// current one.
void ClearLogRows(const std::string& monitorId);
void ClearLogRowsIn(const std::string& folder, const std::string& monitorId);

// Waits until every request made so far is carried out, or the deadline passes; true when
// all were. Nothing is given up.
bool WaitForLogWrites(std::chrono::steady_clock::time_point deadline);

// At exit: waits until every request made so far is carried out or the deadline passes.
// Returns how many did not reach the file: those still queued at the deadline (never
// carried out), the batch being written then (nobody waits for it any more), and those
// whose writing failed since the last call. 0 when every row reached the file.
std::size_t FlushLogRows(std::chrono::steady_clock::time_point deadline);

}  // namespace engine
