// The monitors' log: the rows of the Log table in the data file.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace engine {

// Writes one row of a monitor's log (type 0 information, 1 alert) into the data file,
// with the current time and the text sanitised. Any thread; failures are not reported.
void WriteLogRow(const std::string& monitorId, int type, const std::string& text);

// At exit: waits until every row asked for so far is written or the deadline passes.
// Returns how many rows were given up (0 when all were written); those are never written.
std::size_t FlushLogRows(std::chrono::steady_clock::time_point deadline);

}  // namespace engine
