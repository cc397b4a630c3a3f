// The monitors' log: the rows of the Log table in the data file.
#pragma once

#include <string>

namespace engine {

// Writes one row of a monitor's log (type 0 information, 1 alert) into the data file,
// with the current time and the text sanitised. Any thread; failures are not reported.
void WriteLogRow(const std::string& monitorId, int type, const std::string& text);

}  // namespace engine
